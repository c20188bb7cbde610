// Fuzzes the HTML converter against its step-by-step reference form: both must
// give the same bytes and title, inside the output bound, for every input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "html2txt/html_converter.h"
#include "reference/html_converter_plain.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_html2txt: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // As the program converts: the NUL-terminated text through the single
  // instance, into a buffer of exactly the bound.
  static const bool created = varnox::CreateHtmlConverter();
  if (!created) Fail("no converter instance");
  const std::string html(bytes);
  const std::size_t len = std::strlen(html.c_str());
  std::vector<char> out(varnox::HtmlOutputBound(len));
  if (varnox::HtmlToText(html.c_str(), out.data()) != 0) Fail("HtmlToText failed");
  const void* nul = std::memchr(out.data(), '\0', out.size());
  if (nul == nullptr) Fail("result not terminated inside the bound");
  const std::string_view text(out.data(), static_cast<const char*>(nul) - out.data());
  if (text != varnox::HtmlToTextPlain(std::string_view(html.c_str(), len))) {
    Fail("HtmlToText differs from the reference");
  }

  // Every byte, NUL included, through a converter object that lives on from
  // input to input (its output buffer is reused and its title kept).
  static varnox::HtmlConverter converter;
  std::string title(converter.Title());
  const std::string plain = varnox::HtmlToTextPlain(bytes, &title);
  const std::string_view fast = converter.Convert(bytes);
  if (fast.size() + 1 > varnox::HtmlOutputBound(size)) Fail("result longer than the bound");
  if (fast != plain) Fail("Convert differs from the reference");
  if (converter.Title() != title) Fail("title differs from the reference");
  return 0;
}
