#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <cstddef>
#include <cstdint>

// Scrambles framed payloads and the raw file-data stream between two peers.
// Two layers: a keystream from the 214013/2531011 linear congruential
// generator, seeded per frame, and a repeating-key XOR over the sealed buffer.
// One cipher per session socket; never shared between threads.
class PacketCipher
{
public:
    static constexpr int KeySize = 260;
    static constexpr int MaxKeyLength = KeySize - 1;
    static constexpr int SeedSize = 4;

    PacketCipher();

    // s == 0 takes a fresh clock seed: (calendar seconds + tick ms) >> 1.
    void Seed(uint32_t s);
    uint32_t CurrentSeed() const { return m_seed; }

    // Copies at most 259 bytes of the key; seeds first when no seed was taken.
    // An empty key is stored, but Seal and Open refuse to work with it.
    void SetKey(const char* key);
    void SetKey(const QByteArray& key);
    QByteArray Key() const;
    bool HasKey() const { return m_keyLength != 0; }

    // bytes[i] ^= low 8 bits of the next generator output.
    void XorStream(uint8_t* bytes, size_t n);
    // bytes[i] ^= key[i mod L] ^ 0x30, L = key length up to its first zero.
    // Without a key this leaves the bytes as they are.
    void XorKey(uint8_t* bytes, size_t n) const;

    // Plain payload of n bytes -> sealed payload of n + 4 bytes. False, with
    // the buffer unchanged, when there is no key or the buffer cannot grow.
    bool Seal(QByteArray& buffer);
    // Sealed payload of n bytes -> plain payload of n - 4 bytes. False, with
    // the buffer unchanged, when n < 5 or there is no key.
    bool Open(QByteArray& buffer);

    // Next generator output (0..32767); advances the generator.
    uint32_t NextRandom();

    // The plain byte loops: the reference every fast path must equal.
    static void XorStreamReference(uint32_t& generator, uint8_t* bytes, size_t n);
    static void XorKeyReference(const uint8_t* key, size_t keyLength, uint8_t* bytes, size_t n);

    // Clock seed source, replaceable by tests. Returns calendar seconds + tick ms.
    using ClockSource = uint32_t (*)();
    static void SetClockSourceForTest(ClockSource source);

    // The wide loops XorStream and XorKey run on, chosen from the CPU at run
    // time: "avx512", "avx2" or "portable".
    static const char* VectorPath();
    // Every path this machine can run, fastest first; "portable" is always there.
    static QByteArrayList SupportedVectorPaths();
    // Switches every cipher in the process to the named path (tests and
    // benchmarks compare paths); nullptr goes back to the fastest. False when
    // the machine lacks the path or the name is unknown.
    static bool SetVectorPathForTest(const char* name);

private:
    void expandKey();

    // The key layer repeated (XOR 0x30 applied) over a whole number of key
    // lengths of at least 256 bytes, plus 256 more, so that wide loads can
    // start at any key position.
    static constexpr size_t PatternSize = MaxKeyLength + 2 * 256;

    uint8_t m_key[KeySize];
    uint8_t m_keyPattern[PatternSize];
    size_t m_keyPeriod = 0;
    uint32_t m_seed = 0;
    uint32_t m_generator = 0;
    size_t m_keyLength = 0;
};
