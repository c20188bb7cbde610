// Copying text into the fixed-size fields of records without overrunning them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnox {

// Length of the longest prefix of text that fits max bytes and does not end
// inside a UTF-8 character (bytes that are not UTF-8 are cut anywhere).
std::size_t Utf8PrefixLength(std::string_view text, std::size_t max);

// That prefix as a string.
std::string Utf8Prefix(std::string_view text, std::size_t max);

// Copies text into dst[capacity], cut as above, always NUL-terminated.
void CopyFixedText(char* dst, std::size_t capacity, std::string_view text);

template <std::size_t N>
void CopyFixedText(char (&dst)[N], std::string_view text) {
  CopyFixedText(dst, N, text);
}

}  // namespace varnox
