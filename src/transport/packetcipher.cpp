#include "packetcipher.h"

#include "transport/tickcount.h"

#include <QtEndian>

#include <cstring>
#include <ctime>

namespace {

uint32_t clockSum()
{
    return static_cast<uint32_t>(std::time(nullptr)) + TickCount();
}

PacketCipher::ClockSource g_clock = &clockSum;

} // namespace

PacketCipher::PacketCipher()
{
    std::memset(m_key, 0, sizeof m_key);
}

void PacketCipher::SetClockSourceForTest(ClockSource source)
{
    g_clock = source ? source : &clockSum;
}

void PacketCipher::Seed(uint32_t s)
{
    if (s == 0)
        s = g_clock() >> 1;
    m_seed = s;
    m_generator = s;
}

void PacketCipher::SetKey(const char* key)
{
    if (m_seed == 0)
        Seed(0);
    std::memset(m_key, 0, sizeof m_key);
    if (key)
        std::strncpy(reinterpret_cast<char*>(m_key), key, MaxKeyLength);
    expandKey();
}

void PacketCipher::SetKey(const QByteArray& key)
{
    SetKey(key.left(MaxKeyLength).constData());
}

QByteArray PacketCipher::Key() const
{
    return QByteArray(reinterpret_cast<const char*>(m_key), static_cast<qsizetype>(m_keyLength));
}

void PacketCipher::expandKey()
{
    m_keyLength = std::strlen(reinterpret_cast<const char*>(m_key));
}

uint32_t PacketCipher::NextRandom()
{
    m_generator = m_generator * 214013u + 2531011u;
    return (m_generator >> 16) & 0x7FFF;
}

void PacketCipher::XorStreamReference(uint32_t& generator, uint8_t* bytes, size_t n)
{
    uint32_t g = generator;
    for (size_t i = 0; i < n; ++i) {
        g = g * 214013u + 2531011u;
        bytes[i] ^= static_cast<uint8_t>(g >> 16);
    }
    generator = g;
}

void PacketCipher::XorKeyReference(const uint8_t* key, size_t keyLength, uint8_t* bytes, size_t n)
{
    if (keyLength == 0)
        return;
    for (size_t i = 0; i < n; ++i)
        bytes[i] ^= key[i % keyLength] ^ 0x30;
}

void PacketCipher::XorStream(uint8_t* bytes, size_t n)
{
    XorStreamReference(m_generator, bytes, n);
}

void PacketCipher::XorKey(uint8_t* bytes, size_t n) const
{
    XorKeyReference(m_key, m_keyLength, bytes, n);
}

bool PacketCipher::Seal(QByteArray& buffer)
{
    const qsizetype n = buffer.size();
    buffer.prepend(SeedSize, '\0');
    if (buffer.size() != n + SeedSize)
        return false;
    Seed(0);
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    qToLittleEndian<uint32_t>(m_seed, bytes);
    XorStream(bytes + SeedSize, static_cast<size_t>(n));
    XorKey(bytes, static_cast<size_t>(n + SeedSize));
    return true;
}

bool PacketCipher::Open(QByteArray& buffer)
{
    const qsizetype n = buffer.size();
    if (n < SeedSize + 1)
        return false;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    XorKey(bytes, static_cast<size_t>(n));
    Seed(qFromLittleEndian<uint32_t>(bytes));
    XorStream(bytes + SeedSize, static_cast<size_t>(n - SeedSize));
    buffer.remove(0, SeedSize);
    return true;
}
