#include <algorithm>
#include <bit>
#include <cstring>

#include "analysis/fingerprint.h"

namespace varnox {
namespace {

inline std::uint32_t Rotl(std::uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (z & (x | y));
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

// Overwrites memory the compiler may not elide, so no digest state lingers.
void SecureZero(void* p, std::size_t n) {
  volatile auto* v = static_cast<volatile unsigned char*>(p);
  while (n--) *v++ = 0;
}

}  // namespace

Md4::Md4() : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u}, buffer_{} {}

Md4::~Md4() {
  SecureZero(state_, sizeof state_);
  SecureZero(buffer_, sizeof buffer_);
}

void Md4::Block(const std::uint8_t* p) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(p + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

#define VARNOX_R1(a, b, c, d, k, s) a = Rotl(a + F(b, c, d) + x[k], s)
#define VARNOX_R2(a, b, c, d, k, s) a = Rotl(a + G(b, c, d) + x[k] + 0x5A827999u, s)
#define VARNOX_R3(a, b, c, d, k, s) a = Rotl(a + H(b, c, d) + x[k] + 0x6ED9EBA1u, s)
  for (int i = 0; i < 16; i += 4) {
    VARNOX_R1(a, b, c, d, i, 3);
    VARNOX_R1(d, a, b, c, i + 1, 7);
    VARNOX_R1(c, d, a, b, i + 2, 11);
    VARNOX_R1(b, c, d, a, i + 3, 19);
  }
  for (int i = 0; i < 4; ++i) {
    VARNOX_R2(a, b, c, d, i, 3);
    VARNOX_R2(d, a, b, c, i + 4, 5);
    VARNOX_R2(c, d, a, b, i + 8, 9);
    VARNOX_R2(b, c, d, a, i + 12, 13);
  }
  static constexpr int kOrder3[4] = {0, 2, 1, 3};
  for (int k : kOrder3) {
    VARNOX_R3(a, b, c, d, k, 3);
    VARNOX_R3(d, a, b, c, k + 8, 9);
    VARNOX_R3(c, d, a, b, k + 4, 11);
    VARNOX_R3(b, c, d, a, k + 12, 15);
  }
#undef VARNOX_R1
#undef VARNOX_R2
#undef VARNOX_R3

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md4::Update(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  length_ += size;
  if (buffered_ > 0) {
    const std::size_t take = std::min(size, sizeof buffer_ - buffered_);
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    size -= take;
    if (buffered_ < sizeof buffer_) return;
    Block(buffer_);
    buffered_ = 0;
  }
  for (; size >= 64; p += 64, size -= 64) Block(p);
  std::memcpy(buffer_, p, size);
  buffered_ = size;
}

std::array<std::uint8_t, 16> Md4::Finish() {
  const std::uint64_t bits = length_ * 8;
  std::uint8_t pad[72] = {0x80};
  const std::size_t padLen = (buffered_ < 56 ? 56 : 120) - buffered_;
  Update(pad, padLen);
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(len, 8);
  std::array<std::uint8_t, 16> digest;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (8 * j));
  return digest;
}

std::string Fingerprint(std::string_view bytes) {
  Md4 md4;
  md4.Update(bytes.data(), bytes.size());
  const auto digest = md4.Finish();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return out;
}

void MessageFingerprint(const char* text, char* out) {
  out[0] = '\0';
  const std::string hex =
      Fingerprint(text == nullptr ? std::string_view() : std::string_view(text));
  std::memcpy(out, hex.c_str(), kFingerprintSize);
}

}  // namespace varnox
