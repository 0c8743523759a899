#include "transfers/headcrc.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <array>

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
// eight bytes are folded in with eight independent lookups instead of a
// chain of eight (several times faster over a mebibyte).
using SlicedTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SlicedTables MakeSlicedTables()
{
    SlicedTables tables{};
    tables[0] = MakeCrcTable();
    for (int k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}

constexpr SlicedTables Sliced = MakeSlicedTables();

} // namespace

uint32_t Crc32(QByteArrayView data, uint32_t crc)
{
    crc = ~crc;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    qsizetype n = data.size();
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t low = qFromLittleEndian<uint32_t>(p) ^ crc;
        const uint32_t high = qFromLittleEndian<uint32_t>(p + 4);
        crc = Sliced[7][low & 0xFF] ^ Sliced[6][(low >> 8) & 0xFF] ^ Sliced[5][(low >> 16) & 0xFF] ^
              Sliced[4][low >> 24] ^ Sliced[3][high & 0xFF] ^ Sliced[2][(high >> 8) & 0xFF] ^
              Sliced[1][(high >> 16) & 0xFF] ^ Sliced[0][high >> 24];
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
    QByteArray buffer(ReadSize, Qt::Uninitialized);
    uint32_t crc = 0;
    qint64 total = 0;
    while (total < HeadCrcMaxBytes) {
        const qint64 n = file.read(buffer.data(), std::min(ReadSize, HeadCrcMaxBytes - total));
        if (n <= 0)
            break;
        crc = Crc32(QByteArrayView(buffer.constData(), n), crc);
        total += n;
    }
    // An empty file has no checksum; 0 is also what zlib gives for no bytes.
    return total > 0 ? crc : 0;
}

uint64_t FileSize(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return 0;
    return static_cast<uint64_t>(info.size());
}
