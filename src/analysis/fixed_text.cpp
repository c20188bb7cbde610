#include "analysis/fixed_text.h"

#include <cstring>

#include "platform/ascii_text.h"

namespace varnox {

std::size_t Utf8PrefixLength(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  std::size_t cut = max;
  // Step back over continuation bytes to the start of the character that the
  // cut would split; keep it only if it ends before the cut.
  std::size_t start = cut;
  int back = 0;
  while (start > 0 && back < 4 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
    --start;
    ++back;
  }
  if (start == 0) return cut;
  const auto lead = static_cast<unsigned char>(text[start - 1]);
  std::size_t need = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    need = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    need = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    need = 4;
  if (need == 0) return cut;  // not a multi-byte character: cut anywhere
  const std::size_t have = cut - (start - 1);
  return have < need ? start - 1 : cut;
}

std::string Utf8Prefix(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, Utf8PrefixLength(text, max)));
}

void CopyFixedText(char* dst, std::size_t capacity, std::string_view text) {
  if (capacity == 0) return;
  const std::size_t n = Utf8PrefixLength(UpToNul(text), capacity - 1);
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

}  // namespace varnox
