// Test helper: bytes that do not compress, the same for the same seed, so a
// package of them has volumes and segments of a known size.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace kwtest {

// `size` bytes of a xorshift sequence started from `seed` (not zero).
inline std::string NoiseBytes(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  uint64_t x = seed;
  for (size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&bytes[i], &x, size - i < 8 ? size - i : 8);
  }
  return bytes;
}

}  // namespace kwtest
