// Throughput of the packet cipher: the plain byte loops against the wide
// loops on every vector path this machine supports, and whole Seal/Open round
// trips on typical payload sizes.

#include "transport/packetcipher.h"

#include <QByteArray>
#include <QByteArrayList>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t MiB = 1024 * 1024;
// Bytes pushed through per figure, split into three timed runs; the best run counts.
constexpr size_t WorkPerFigure = 384 * MiB;
constexpr int Runs = 3;

const char DefaultKey[] = "QRT482LMN";

// Folds every result into one printed value so no loop can be dropped.
uint64_t g_sink = 0;

void absorb(const uint8_t* bytes, size_t n)
{
    uint64_t h = g_sink;
    for (size_t i = 0; i < n; i += 64)
        h = h * 31 + bytes[i];
    g_sink = h;
}

// Runs pass(bufferBytes) until WorkPerFigure bytes have gone through; GB/s of the best run.
double measure(size_t bufferBytes, const std::function<void()>& pass)
{
    const size_t passesPerRun = std::max<size_t>(1, WorkPerFigure / Runs / bufferBytes);
    double best = 0;
    for (int run = 0; run < Runs; ++run) {
        const auto start = Clock::now();
        for (size_t i = 0; i < passesPerRun; ++i)
            pass();
        const std::chrono::duration<double> took = Clock::now() - start;
        const double gbps = double(passesPerRun * bufferBytes) / took.count() / 1e9;
        best = std::max(best, gbps);
    }
    return best;
}

void printFigure(const char* what, const char* path, const char* size, double gbps, double baseline)
{
    if (baseline > 0)
        std::printf("%-22s %-10s %-7s %8.2f GB/s  %6.1fx\n", what, path, size, gbps,
                    gbps / baseline);
    else
        std::printf("%-22s %-10s %-7s %8.2f GB/s  baseline\n", what, path, size, gbps);
}

std::vector<uint8_t> pseudoRandomBytes(size_t n)
{
    std::vector<uint8_t> bytes(n);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

// The sealing steps with the plain loops, as the baseline for Seal/Open.
void referenceRoundTrip(QByteArray& buffer, uint32_t seed, const uint8_t* key, size_t keyLength)
{
    const size_t n = static_cast<size_t>(buffer.size());
    buffer.prepend(PacketCipher::SeedSize, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    uint32_t generator = seed;
    std::memcpy(bytes, &seed, sizeof seed);
    PacketCipher::XorStreamReference(generator, bytes + 4, n);
    PacketCipher::XorKeyReference(key, keyLength, bytes, n + 4);
    PacketCipher::XorKeyReference(key, keyLength, bytes, n + 4);
    std::memcpy(&generator, bytes, sizeof generator);
    PacketCipher::XorStreamReference(generator, bytes + 4, n);
    buffer.remove(0, PacketCipher::SeedSize);
}

} // namespace

int main()
{
    const char* chosen = PacketCipher::VectorPath();
    const QByteArrayList paths = PacketCipher::SupportedVectorPaths();
    std::printf("packet cipher throughput (best of %d runs, %zu MiB per figure)\n", Runs,
                WorkPerFigure / MiB);
    std::printf("vector path chosen: %s   supported:", chosen);
    for (const QByteArray& path : paths)
        std::printf(" %s", path.constData());
    std::printf("\n\n");

    constexpr size_t Large = 64 * 1024;
    constexpr size_t Chunk = 4096;
    std::vector<uint8_t> data = pseudoRandomBytes(Large);
    const auto* key = reinterpret_cast<const uint8_t*>(DefaultKey);
    const size_t keyLength = sizeof DefaultKey - 1;

    // Keystream: the generator runs on across passes, like a file-data stream.
    uint32_t generator = 1;
    const double streamBase =
        measure(Large, [&] { PacketCipher::XorStreamReference(generator, data.data(), Large); });
    printFigure("keystream", "reference", "64 KiB", streamBase, 0);
    absorb(data.data(), Large);
    for (const QByteArray& path : paths) {
        PacketCipher::SetVectorPathForTest(path.constData());
        PacketCipher cipher;
        cipher.Seed(1);
        const double big = measure(Large, [&] { cipher.XorStream(data.data(), Large); });
        printFigure("keystream", path.constData(), "64 KiB", big, streamBase);
        const double chunk = measure(Chunk, [&] { cipher.XorStream(data.data(), Chunk); });
        printFigure("keystream", path.constData(), "4 KiB", chunk, streamBase);
        absorb(data.data(), Large);
    }
    std::printf("\n");

    const double keyBase =
        measure(Large, [&] { PacketCipher::XorKeyReference(key, keyLength, data.data(), Large); });
    printFigure("key layer (9-char key)", "reference", "64 KiB", keyBase, 0);
    absorb(data.data(), Large);
    for (const QByteArray& path : paths) {
        PacketCipher::SetVectorPathForTest(path.constData());
        PacketCipher cipher;
        cipher.SetKey(DefaultKey);
        const double big = measure(Large, [&] { cipher.XorKey(data.data(), Large); });
        printFigure("key layer (9-char key)", path.constData(), "64 KiB", big, keyBase);
        const double chunk = measure(Chunk, [&] { cipher.XorKey(data.data(), Chunk); });
        printFigure("key layer (9-char key)", path.constData(), "4 KiB", chunk, keyBase);
        absorb(data.data(), Large);
    }
    std::printf("\n");

    // Seal on one side, Open on the other: payload bytes per round trip.
    for (size_t size : {Chunk, Large}) {
        const char* label = size == Chunk ? "4 KiB" : "64 KiB";
        const QByteArray original(reinterpret_cast<const char*>(data.data()),
                                  static_cast<qsizetype>(size));
        QByteArray payload = original;
        uint32_t seed = 1;
        const double base =
            measure(size, [&] { referenceRoundTrip(payload, seed++, key, keyLength); });
        printFigure("seal+open", "reference", label, base, 0);
        for (const QByteArray& path : paths) {
            PacketCipher::SetVectorPathForTest(path.constData());
            PacketCipher sender;
            PacketCipher receiver;
            sender.SetKey(DefaultKey);
            receiver.SetKey(DefaultKey);
            bool ok = true;
            const double gbps =
                measure(size, [&] { ok = sender.Seal(payload) && receiver.Open(payload) && ok; });
            printFigure("seal+open", path.constData(), label, gbps, base);
            if (!ok || payload != original) {
                std::printf("round trip failed on %s\n", path.constData());
                return 1;
            }
        }
        absorb(reinterpret_cast<const uint8_t*>(payload.constData()), size);
    }
    PacketCipher::SetVectorPathForTest(nullptr);

    std::printf("\nchecksum %016llx\n", static_cast<unsigned long long>(g_sink));
    return 0;
}
