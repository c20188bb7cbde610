// Small text helpers shared by every layer: ASCII case folding (bytes outside
// A-Z are left alone, so UTF-8 passes through) and the C-string view of a text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnox {

constexpr unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c | 0x20 : c;
}

// Lower-cases A-Z in place. Branch-free so the compiler can vectorise it:
// whole MIME texts go through.
inline void LowerAscii(std::string& text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(u | (static_cast<unsigned char>(u - 'A') < 26 ? 0x20 : 0));
  }
}

inline std::string LowerAsciiCopy(std::string_view text) {
  std::string out(text);
  LowerAscii(out);
  return out;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The text as a C string sees it: up to its first NUL.
constexpr std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

inline void CutAtNul(std::string& text) {
  text.resize(UpToNul(text).size());
}

}  // namespace varnox
