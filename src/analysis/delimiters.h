// The byte classes of the tokenizer.
#pragma once

#include <array>
#include <cstddef>

namespace varnox::detail {

// Punctuation that separates tokens, besides the control bytes and the blank.
inline constexpr unsigned char kPunctuation[] = {
    0x21, 0xA7, 0x24, 0x25, 0x26, 0x2F, 0x28, 0x29, 0x3D, 0x3F, 0x60, 0x7B, 0x5B, 0x5D, 0x5C, 0xB4,
    0x40, 0x2A, 0x2B, 0x7E, 0x27, 0x23, 0x3E, 0x3C, 0x7C, 0x3B, 0x2C, 0x3A, 0x2E, 0x5F, 0x2D, 0x22};

enum ByteClass : unsigned char {
  kToken = 0,      // part of a token
  kDelimiter = 1,  // separates tokens
  kNonAscii = 2,   // 0x80 and up: decided by the UTF-8 reading
};

constexpr std::array<unsigned char, 256> MakeByteClasses() {
  std::array<unsigned char, 256> t{};
  for (int b = 0x80; b < 0x100; ++b) t[b] = kNonAscii;
  for (int b = 0x01; b <= 0x20; ++b) t[b] = kDelimiter;
  for (unsigned char b : kPunctuation)
    if (b < 0x80) t[b] = kDelimiter;
  t[0] = kDelimiter;
  return t;
}
inline constexpr std::array<unsigned char, 256> kByteClass = MakeByteClasses();

// Length of the well-formed UTF-8 character (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF) that starts at p, or 0 when none does.
inline std::size_t Utf8CharLength(const unsigned char* p, std::size_t avail) {
  const unsigned char b = p[0];
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (avail < n || p[1] < lo || p[1] > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return n;
}

// Classifies the non-ASCII byte at p: returns how many bytes belong together
// (the whole character, or 1) and whether they delimit. The section sign and
// the acute accent delimit as characters (C2 A7, C2 B4) and as lone bytes.
inline std::size_t ClassifyNonAscii(const unsigned char* p, std::size_t avail, bool& delimiter) {
  const std::size_t n = Utf8CharLength(p, avail);
  if (n == 0) {
    delimiter = (p[0] == 0xA7 || p[0] == 0xB4);
    return 1;
  }
  delimiter = (n == 2 && p[0] == 0xC2 && (p[1] == 0xA7 || p[1] == 0xB4));
  return n;
}

}  // namespace varnox::detail
