// Single-pass HTML-to-text scanner for mail bodies.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace varnox {

// Room a caller gives the output of one conversion of an input of len bytes,
// terminator included. The output never exceeds it.
constexpr std::size_t HtmlOutputBound(std::size_t len) {
  return len + 4096;
}

// The program's single converter instance, made once at start-up.
// Returns false when it could not be made; HtmlToText then answers -1.
bool CreateHtmlConverter();

// Converts the NUL-terminated html into out, which holds at least
// HtmlOutputBound(strlen(html)) bytes. Returns 0, or -1 (out untouched)
// when no converter instance exists. Runs must not overlap.
int HtmlToText(const char* html, char* out);

// The converter behind HtmlToText. It keeps the output of the last run and
// the last title read; one object must not run two conversions at once.
//
// Output that would grow past HtmlOutputBound(input length) - 1 bytes is cut
// there (a multi-byte character may be split at that point); the scan itself
// goes on to the end, so the title field still follows the whole input.
class HtmlConverter {
 public:
  // The title field: 255 bytes of title and a terminator. A longer title
  // keeps its first 255 bytes, less a UTF-8 character that the cut would
  // split (see TitleFieldLength).
  static constexpr std::size_t kTitleSize = 256;

  HtmlConverter() = default;
  HtmlConverter(const HtmlConverter&) = delete;
  HtmlConverter& operator=(const HtmlConverter&) = delete;

  // One run over html (every byte counts, NUL included). The result stays
  // valid until the next run and is followed by a NUL in memory. When the
  // output buffer cannot be obtained, "cannot alloc output buffer." goes to
  // standard error and the result is empty.
  std::string_view Convert(std::string_view html);

  // The text of the last title element read, in any run so far. A title
  // element that is never closed fills it with the rest of its input.
  std::string_view Title() const { return std::string_view(title_.data()); }

 private:
  bool ObtainOutput(std::size_t capacity);

  std::unique_ptr<char[]> out_;   // reused while big enough, see ObtainOutput
  std::size_t out_capacity_ = 0;  // bytes of out_
  std::array<char, kTitleSize> title_{};
};

// HtmlToText with an explicit converter; converter may be null (result -1,
// out untouched).
int HtmlToText(HtmlConverter* converter, const char* html, char* out);

// How many bytes of a title fit the title field: all of a title of up to 255
// bytes; of a longer one the first 255, less the lead bytes of a UTF-8
// character that the cut would split (only when the bytes around the cut are
// well-formed UTF-8 lead and continuation bytes; other text is cut at 255).
std::size_t TitleFieldLength(std::string_view title);

}  // namespace varnox
