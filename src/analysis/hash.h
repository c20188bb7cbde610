// A fast non-cryptographic hash for short byte strings (words, tokens).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnox {

inline std::uint64_t HashBytes(const char* p, std::size_t n) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = 0x243F6A8885A308D3ull ^ (n * kMul);
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

}  // namespace varnox
