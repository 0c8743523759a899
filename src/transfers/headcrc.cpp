#include "transfers/headcrc.h"

#include <QFile>
#include <QFileInfo>

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

} // namespace

uint32_t Crc32(QByteArrayView data, uint32_t crc)
{
    crc = ~crc;
    for (char ch : data)
        crc = CrcTable[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t HeadCrc(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    uint32_t crc = 0;
    bool any = false;
    char chunk[HeadCrcChunk];
    for (int i = 0; i < HeadCrcMaxChunks; ++i) {
        const qint64 n = file.read(chunk, HeadCrcChunk);
        if (n <= 0)
            break;
        crc = Crc32(QByteArrayView(chunk, n), crc);
        any = true;
    }
    // An empty file has no checksum; 0 is also what zlib gives for no bytes.
    return any ? crc : 0;
}

uint64_t FileSize(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return 0;
    return static_cast<uint64_t>(info.size());
}
