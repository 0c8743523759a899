#pragma once

#include <cstddef>
#include <cstdint>

// Wide loops behind PacketCipher::XorStream and PacketCipher::XorKey. The
// loop set is picked once at run time from the CPU's features, so a build for
// the baseline instruction set still uses AVX2 or AVX-512 where they exist.
namespace cipherfast {

enum class Path { Portable, Avx2, Avx512 };

// Every key-layer pattern is repeated to at least this many bytes, and the
// pattern buffer holds one period plus this many bytes, so that the key loop
// can load a whole window at any offset inside the period.
constexpr size_t PatternWindow = 256;

const char* pathName(Path path);
bool pathFromName(const char* name, Path& path);
bool supported(Path path);
// The fastest path this machine supports.
Path best();
// The path in use; best() until select() changes it.
Path current();
// Switches every cipher in the process to path; false when unsupported.
bool select(Path path);

// The generator after n steps of x = x * 214013 + 2531011, in O(log n).
uint32_t jump(uint32_t generator, uint64_t n);

// bytes[i] ^= low 8 bits of the (i+1)-th generator output; the generator
// advances by n steps. Equal to the plain loop for every state and length.
void xorStream(uint32_t& generator, uint8_t* bytes, size_t n);

// bytes[i] ^= pattern[i mod period]. The pattern holds period + PatternWindow
// bytes (repeating), and period >= PatternWindow.
void xorPattern(const uint8_t* pattern, size_t period, uint8_t* bytes, size_t n);

} // namespace cipherfast
