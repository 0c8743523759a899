#include "cipherfast.h"

#include <array>
#include <atomic>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZL_CIPHER_X86 1
#include <immintrin.h>
#else
#define ZL_CIPHER_X86 0
#endif

namespace cipherfast {
namespace {

// One generator step is the affine map x -> a*x + c (mod 2^32); k steps are
// again affine, x -> A_k*x + C_k, which lets many lanes walk the stream side by
// side, each lane k bytes ahead of the previous round.
struct Affine
{
    uint32_t a;
    uint32_t c;
};

constexpr Affine Step{214013u, 2531011u};

constexpr Affine compose(Affine outer, Affine inner)
{
    return {outer.a * inner.a, outer.a * inner.c + outer.c};
}

constexpr Affine power(uint64_t n)
{
    Affine result{1u, 0u};
    Affine base = Step;
    while (n != 0) {
        if (n & 1u)
            result = compose(base, result);
        base = compose(base, base);
        n >>= 1;
    }
    return result;
}

static_assert(power(1).a == 214013u && power(1).c == 2531011u);
static_assert(power(2).a == 214013u * 214013u && power(2).c == 214013u * 2531011u + 2531011u);

// Per-lane jump constants: lane i starts at output position(i) + 1 of the
// stream, so its first value is A_{p+1} * generator + C_{p+1}.
template <size_t Lanes> struct LaneTable
{
    alignas(64) uint32_t a[Lanes];
    alignas(64) uint32_t c[Lanes];
};

template <size_t Lanes, typename Position>
constexpr LaneTable<Lanes> makeLaneTable(Position position)
{
    LaneTable<Lanes> table{};
    for (size_t lane = 0; lane < Lanes; ++lane) {
        const Affine f = power(position(lane) + 1);
        table.a[lane] = f.a;
        table.c[lane] = f.c;
    }
    return table;
}

uint32_t xorStreamScalar(uint32_t generator, uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        generator = generator * Step.a + Step.c;
        bytes[i] ^= static_cast<uint8_t>(generator >> 16);
    }
    return generator;
}

void xorPatternScalar(const uint8_t* pattern, uint8_t* bytes, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t b;
        uint64_t k;
        std::memcpy(&b, bytes + i, 8);
        std::memcpy(&k, pattern + i, 8);
        b ^= k;
        std::memcpy(bytes + i, &b, 8);
    }
    for (; i < n; ++i)
        bytes[i] ^= pattern[i];
}

// --- portable: 64 independent lanes in plain C++ ------------------------------

constexpr size_t PortableBlock = 64;
constexpr auto portableTable = makeLaneTable<PortableBlock>([](size_t lane) { return lane; });

void streamPortable(uint32_t generator, uint8_t* bytes, size_t blocks)
{
    constexpr Affine jumpBlock = power(PortableBlock);
    uint32_t x[PortableBlock];
    for (size_t j = 0; j < PortableBlock; ++j)
        x[j] = portableTable.a[j] * generator + portableTable.c[j];
    for (size_t b = 0; b < blocks; ++b) {
        for (size_t j = 0; j < PortableBlock; ++j) {
            bytes[j] ^= static_cast<uint8_t>(x[j] >> 16);
            x[j] = x[j] * jumpBlock.a + jumpBlock.c;
        }
        bytes += PortableBlock;
    }
}

void patternPortable(const uint8_t* pattern, size_t period, uint8_t* bytes, size_t n)
{
    size_t offset = 0;
    while (n >= PatternWindow) {
        xorPatternScalar(pattern + offset, bytes, PatternWindow);
        offset += PatternWindow;
        if (offset >= period)
            offset -= period;
        bytes += PatternWindow;
        n -= PatternWindow;
    }
    xorPatternScalar(pattern + offset, bytes, n);
}

#if ZL_CIPHER_X86

// Bits 16..23 of every 32-bit lane are the output byte. Four registers are
// merged into one: in each 128-bit lane, register q fills bytes 4q..4q+3 from
// its four dwords. The lane tables place stream positions so that the merged
// register is the keystream in order.
struct alignas(64) ByteMasks
{
    // Repeated for each 128-bit lane of the widest register.
    int8_t m[4][64];
};

constexpr ByteMasks makeByteMasks()
{
    ByteMasks masks{};
    for (int q = 0; q < 4; ++q) {
        for (int i = 0; i < 64; ++i) {
            const int d = i % 16;
            masks.m[q][i] = static_cast<int8_t>(d / 4 == q ? 4 * (d % 4) + 2 : -128);
        }
    }
    return masks;
}

constexpr ByteMasks byteMasks = makeByteMasks();

// --- AVX2: 8 registers x 8 lanes, 64 bytes a round ----------------------------

constexpr size_t Avx2Block = 64;
constexpr auto avx2Table = makeLaneTable<Avx2Block>([](size_t lane) {
    const size_t r = lane / 8, p = lane % 8;
    return 32 * (r / 4) + 16 * (p / 4) + 4 * (r % 4) + p % 4;
});

__attribute__((target("avx2"))) void streamAvx2(uint32_t generator, uint8_t* bytes, size_t blocks)
{
    constexpr Affine jumpBlock = power(Avx2Block);
    const __m256i g = _mm256_set1_epi32(static_cast<int>(generator));
    const __m256i stepA = _mm256_set1_epi32(static_cast<int>(jumpBlock.a));
    const __m256i stepC = _mm256_set1_epi32(static_cast<int>(jumpBlock.c));
    __m256i mask[4];
    __m256i x[8];
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q)
        mask[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(byteMasks.m[q]));
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(avx2Table.a + 8 * r));
        const __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(avx2Table.c + 8 * r));
        x[r] = _mm256_add_epi32(_mm256_mullo_epi32(g, a), c);
    }
    for (size_t b = 0; b < blocks; ++b) {
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            const __m256i k01 = _mm256_or_si256(_mm256_shuffle_epi8(x[4 * h + 0], mask[0]),
                                                _mm256_shuffle_epi8(x[4 * h + 1], mask[1]));
            const __m256i k23 = _mm256_or_si256(_mm256_shuffle_epi8(x[4 * h + 2], mask[2]),
                                                _mm256_shuffle_epi8(x[4 * h + 3], mask[3]));
            auto* p = reinterpret_cast<__m256i*>(bytes + 32 * h);
            const __m256i data = _mm256_loadu_si256(p);
            _mm256_storeu_si256(p, _mm256_xor_si256(data, _mm256_or_si256(k01, k23)));
        }
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r)
            x[r] = _mm256_add_epi32(_mm256_mullo_epi32(x[r], stepA), stepC);
        bytes += Avx2Block;
    }
}

__attribute__((target("avx2"))) void patternAvx2(const uint8_t* pattern, size_t period,
                                                 uint8_t* bytes, size_t n)
{
    size_t offset = 0;
    while (n >= PatternWindow) {
#pragma GCC unroll 8
        for (size_t i = 0; i < PatternWindow; i += 32) {
            auto* p = reinterpret_cast<__m256i*>(bytes + i);
            const __m256i k =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern + offset + i));
            _mm256_storeu_si256(p, _mm256_xor_si256(_mm256_loadu_si256(p), k));
        }
        offset += PatternWindow;
        if (offset >= period)
            offset -= period;
        bytes += PatternWindow;
        n -= PatternWindow;
    }
    pattern += offset;
    while (n >= 32) {
        auto* p = reinterpret_cast<__m256i*>(bytes);
        const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pattern));
        _mm256_storeu_si256(p, _mm256_xor_si256(_mm256_loadu_si256(p), k));
        pattern += 32;
        bytes += 32;
        n -= 32;
    }
    xorPatternScalar(pattern, bytes, n);
}

// --- AVX-512: 8 registers x 16 lanes, 128 bytes a round ------------------------

constexpr size_t Avx512Block = 128;
constexpr auto avx512Table = makeLaneTable<Avx512Block>([](size_t lane) {
    const size_t r = lane / 16, p = lane % 16;
    return 64 * (r / 4) + 16 * (p / 4) + 4 * (r % 4) + p % 4;
});

// Truth tables for vpternlogd: a | b | c, and (a | b) ^ c.
constexpr int TernOr3 = 0xFE;
constexpr int TernOrXor = 0x56;

__attribute__((target("avx512f,avx512bw"))) void streamAvx512(uint32_t generator, uint8_t* bytes,
                                                              size_t blocks)
{
    constexpr Affine jumpBlock = power(Avx512Block);
    const __m512i g = _mm512_set1_epi32(static_cast<int>(generator));
    const __m512i stepA = _mm512_set1_epi32(static_cast<int>(jumpBlock.a));
    const __m512i stepC = _mm512_set1_epi32(static_cast<int>(jumpBlock.c));
    __m512i mask[4];
    __m512i x[8];
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q)
        mask[q] = _mm512_load_si512(byteMasks.m[q]);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m512i a = _mm512_load_si512(avx512Table.a + 16 * r);
        const __m512i c = _mm512_load_si512(avx512Table.c + 16 * r);
        x[r] = _mm512_add_epi32(_mm512_mullo_epi32(g, a), c);
    }
    for (size_t b = 0; b < blocks; ++b) {
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            const __m512i k012 =
                _mm512_ternarylogic_epi32(_mm512_shuffle_epi8(x[4 * h + 0], mask[0]),
                                          _mm512_shuffle_epi8(x[4 * h + 1], mask[1]),
                                          _mm512_shuffle_epi8(x[4 * h + 2], mask[2]), TernOr3);
            uint8_t* p = bytes + 64 * h;
            const __m512i data = _mm512_loadu_si512(p);
            _mm512_storeu_si512(
                p, _mm512_ternarylogic_epi32(k012, _mm512_shuffle_epi8(x[4 * h + 3], mask[3]), data,
                                             TernOrXor));
        }
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r)
            x[r] = _mm512_add_epi32(_mm512_mullo_epi32(x[r], stepA), stepC);
        bytes += Avx512Block;
    }
}

__attribute__((target("avx512f,avx512bw"))) void
patternAvx512(const uint8_t* pattern, size_t period, uint8_t* bytes, size_t n)
{
    size_t offset = 0;
    while (n >= PatternWindow) {
#pragma GCC unroll 4
        for (size_t i = 0; i < PatternWindow; i += 64) {
            const __m512i k = _mm512_loadu_si512(pattern + offset + i);
            _mm512_storeu_si512(bytes + i, _mm512_xor_si512(_mm512_loadu_si512(bytes + i), k));
        }
        offset += PatternWindow;
        if (offset >= period)
            offset -= period;
        bytes += PatternWindow;
        n -= PatternWindow;
    }
    pattern += offset;
    while (n != 0) {
        // The last piece is masked so that no byte past the buffer is touched.
        const size_t take = n < 64 ? n : 64;
        const __mmask64 m = take == 64 ? ~__mmask64(0) : (__mmask64(1) << take) - 1;
        const __m512i k = _mm512_maskz_loadu_epi8(m, pattern);
        const __m512i data = _mm512_maskz_loadu_epi8(m, bytes);
        _mm512_mask_storeu_epi8(bytes, m, _mm512_xor_si512(data, k));
        pattern += take;
        bytes += take;
        n -= take;
    }
}

#endif // ZL_CIPHER_X86

using StreamFn = void (*)(uint32_t, uint8_t*, size_t);
using PatternFn = void (*)(const uint8_t*, size_t, uint8_t*, size_t);

struct Kernels
{
    Path path;
    size_t block;
    StreamFn stream;
    PatternFn pattern;
};

constexpr Kernels portableKernels{Path::Portable, PortableBlock, &streamPortable, &patternPortable};
#if ZL_CIPHER_X86
constexpr Kernels avx2Kernels{Path::Avx2, Avx2Block, &streamAvx2, &patternAvx2};
constexpr Kernels avx512Kernels{Path::Avx512, Avx512Block, &streamAvx512, &patternAvx512};
constexpr size_t MaxBlock = Avx512Block;
#else
constexpr size_t MaxBlock = PortableBlock;
#endif

const Kernels& kernelsFor(Path path)
{
#if ZL_CIPHER_X86
    if (path == Path::Avx512)
        return avx512Kernels;
    if (path == Path::Avx2)
        return avx2Kernels;
#endif
    (void)path;
    return portableKernels;
}

std::atomic<const Kernels*> g_kernels{nullptr};

const Kernels& kernels()
{
    const Kernels* k = g_kernels.load(std::memory_order_acquire);
    if (!k) {
        k = &kernelsFor(best());
        g_kernels.store(k, std::memory_order_release);
    }
    return *k;
}

// Below this many bytes the set-up of a vector round costs more than it saves.
constexpr size_t ScalarLimit = 24;

} // namespace

const char* pathName(Path path)
{
    switch (path) {
    case Path::Avx512:
        return "avx512";
    case Path::Avx2:
        return "avx2";
    case Path::Portable:
        break;
    }
    return "portable";
}

bool pathFromName(const char* name, Path& path)
{
    if (!name)
        return false;
    for (Path p : {Path::Avx512, Path::Avx2, Path::Portable}) {
        if (std::strcmp(name, pathName(p)) == 0) {
            path = p;
            return true;
        }
    }
    return false;
}

bool supported(Path path)
{
    switch (path) {
    case Path::Portable:
        return true;
#if ZL_CIPHER_X86
    case Path::Avx2: {
        static const bool avx2 = [] {
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") != 0;
        }();
        return avx2;
    }
    case Path::Avx512: {
        static const bool avx512 = [] {
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") != 0 &&
                   __builtin_cpu_supports("avx512bw") != 0;
        }();
        return avx512;
    }
#else
    default:
        return false;
#endif
    }
    return false;
}

Path best()
{
    if (supported(Path::Avx512))
        return Path::Avx512;
    if (supported(Path::Avx2))
        return Path::Avx2;
    return Path::Portable;
}

Path current()
{
    return kernels().path;
}

bool select(Path path)
{
    if (!supported(path))
        return false;
    g_kernels.store(&kernelsFor(path), std::memory_order_release);
    return true;
}

uint32_t jump(uint32_t generator, uint64_t n)
{
    const Affine f = power(n);
    return f.a * generator + f.c;
}

void xorStream(uint32_t& generator, uint8_t* bytes, size_t n)
{
    const uint32_t start = generator;
    if (n < ScalarLimit) {
        generator = xorStreamScalar(start, bytes, n);
        return;
    }
    const Kernels& k = kernels();
    const size_t blocks = n / k.block;
    if (blocks != 0)
        k.stream(start, bytes, blocks);
    const size_t done = blocks * k.block;
    const size_t rest = n - done;
    if (rest >= ScalarLimit) {
        // A partial round runs on a copy, so that no byte past the end is touched.
        uint8_t round[MaxBlock] = {};
        std::memcpy(round, bytes + done, rest);
        k.stream(jump(start, done), round, 1);
        std::memcpy(bytes + done, round, rest);
    } else if (rest != 0) {
        xorStreamScalar(jump(start, done), bytes + done, rest);
    }
    generator = jump(start, n);
}

void xorPattern(const uint8_t* pattern, size_t period, uint8_t* bytes, size_t n)
{
    kernels().pattern(pattern, period, bytes, n);
}

} // namespace cipherfast
