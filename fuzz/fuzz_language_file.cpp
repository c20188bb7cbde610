// A language file as a user may write it: every text handed on must be valid
// UTF-8 (the window's JSON carries it) and fit the line buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "i18n/language_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnox;
  auto check = [](int, const std::string& text) {
    if (text.size() >= kLanguageLineBuffer * 3) std::abort();  // U+FFFD is 3 bytes a byte
    (void)nlohmann::json(text).dump();                         // throws on invalid UTF-8
  };
  LanguageFileHandlers handlers{check, check, check};
  (void)ParseLanguageText(std::string_view(reinterpret_cast<const char*>(data), size), handlers);
  return 0;
}
