#include "transfers/headcrc.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>

#include <unistd.h>

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0x77073096u);
static_assert(CrcTable[255] == 0x2D02EF8Du);

// Sliced[k][n]: the checksum step of byte n followed by k zero bytes, so
// sixteen bytes are folded in with sixteen independent lookups instead of a
// chain of sixteen (several times faster over a mebibyte).
constexpr int SliceBytes = 16;
using SlicedTables = std::array<std::array<uint32_t, 256>, SliceBytes>;

constexpr SlicedTables MakeSlicedTables()
{
    SlicedTables tables{};
    tables[0] = MakeCrcTable();
    for (int k = 1; k < SliceBytes; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}

constexpr SlicedTables Sliced = MakeSlicedTables();

// The four bytes of word looked up in the tables for byte positions
// `last` - 3 to `last` of a slice.
inline uint32_t FoldWord(uint32_t word, int last)
{
    return Sliced[last][word & 0xFF] ^ Sliced[last - 1][(word >> 8) & 0xFF] ^
           Sliced[last - 2][(word >> 16) & 0xFF] ^ Sliced[last - 3][word >> 24];
}

} // namespace

uint32_t Crc32(QByteArrayView data, uint32_t crc)
{
    crc = ~crc;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    qsizetype n = data.size();
    for (; n >= SliceBytes; p += SliceBytes, n -= SliceBytes) {
        crc = FoldWord(qFromLittleEndian<uint32_t>(p) ^ crc, 15) ^
              FoldWord(qFromLittleEndian<uint32_t>(p + 4), 11) ^
              FoldWord(qFromLittleEndian<uint32_t>(p + 8), 7) ^
              FoldWord(qFromLittleEndian<uint32_t>(p + 12), 3);
    }
    for (; n > 0; ++p, --n)
        crc = CrcTable[(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t HeadCrc(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return 0;
    // Large reads straight into one buffer: a folder sends the checksum of
    // every entry ahead of its data.
    constexpr qint64 ReadSize = 64 * 1024;
    char buffer[ReadSize];
    uint32_t crc = 0;
    qint64 total = 0;
    while (total < HeadCrcMaxBytes) {
        const qint64 n = file.read(buffer, std::min(ReadSize, HeadCrcMaxBytes - total));
        if (n <= 0)
            break;
        crc = Crc32(QByteArrayView(buffer, n), crc);
        total += n;
    }
    // An empty file has no checksum; 0 is also what zlib gives for no bytes.
    return total > 0 ? crc : 0;
}

uint32_t HeadCrcOfOpen(int fd, qint64 size, QByteArray& head)
{
    const qint64 want = std::clamp<qint64>(size, 0, HeadCrcMaxBytes);
    head.resize(want);
    qint64 total = 0;
    while (total < want) {
        const ssize_t n = ::read(fd, head.data() + total, static_cast<size_t>(want - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
    }
    head.resize(total);
    return total > 0 ? Crc32(head) : 0;
}

uint64_t FileSize(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return 0;
    return static_cast<uint64_t>(info.size());
}
