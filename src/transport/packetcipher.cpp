#include "packetcipher.h"

#include "transport/cipherfast.h"
#include "transport/tickcount.h"

#include <QtEndian>

#include <cstring>
#include <ctime>
#include <new>

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
    std::memset(m_keyPattern, 0, sizeof m_keyPattern);
}

const char* PacketCipher::VectorPath()
{
    return cipherfast::pathName(cipherfast::current());
}

QByteArrayList PacketCipher::SupportedVectorPaths()
{
    QByteArrayList paths;
    using cipherfast::Path;
    for (Path path : {Path::Avx512, Path::Avx2, Path::Portable}) {
        if (cipherfast::supported(path))
            paths.append(QByteArray(cipherfast::pathName(path)));
    }
    return paths;
}

bool PacketCipher::SetVectorPathForTest(const char* name)
{
    cipherfast::Path path = cipherfast::best();
    if (name && !cipherfast::pathFromName(name, path))
        return false;
    return cipherfast::select(path);
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
    static_assert(PatternSize >= MaxKeyLength + 2 * cipherfast::PatternWindow - 1,
                  "the key pattern must hold the longest period plus one window");
    m_keyLength = std::strlen(reinterpret_cast<const char*>(m_key));
    m_keyPeriod = 0;
    if (m_keyLength == 0)
        return;
    // The smallest multiple of the key length that covers one window.
    const size_t window = cipherfast::PatternWindow;
    m_keyPeriod = (window + m_keyLength - 1) / m_keyLength * m_keyLength;
    const size_t filled = m_keyPeriod + window;
    for (size_t i = 0; i < filled; ++i)
        m_keyPattern[i] = m_key[i % m_keyLength] ^ 0x30;
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
    cipherfast::xorStream(m_generator, bytes, n);
}

void PacketCipher::XorKey(uint8_t* bytes, size_t n) const
{
    if (m_keyLength == 0)
        return;
    cipherfast::xorPattern(m_keyPattern, m_keyPeriod, bytes, n);
}

bool PacketCipher::Seal(QByteArray& buffer)
{
    // Without a key the seed would travel readable and the payload with it.
    if (m_keyLength == 0)
        return false;
    const qsizetype n = buffer.size();
    try {
        // One reallocation at most, and one move of the payload up by 4.
        buffer.prepend(SeedSize, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
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
    if (n < SeedSize + 1 || m_keyLength == 0)
        return false;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    XorKey(bytes, static_cast<size_t>(n));
    Seed(qFromLittleEndian<uint32_t>(bytes));
    XorStream(bytes + SeedSize, static_cast<size_t>(n - SeedSize));
    // The buffer is unshared by now (data() detached it), so dropping the
    // seed works in place and never allocates.
    buffer.remove(0, SeedSize);
    return true;
}
