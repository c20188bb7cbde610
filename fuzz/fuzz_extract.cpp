// Fuzzes the MIME part search and the text extraction on arbitrary bytes, as
// they are and with bare LF made CR LF (which reaches the parts far more
// often). Checks what must hold for every input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/tokenizer.h"
#include "mailstore/extract.h"
#include "platform/maildir.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_extract: %s\n", what);
  std::abort();
}


bool HasUpperAscii(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

void Check(const std::string& original) {
  std::string lowered = original;
  varnox::LowerAscii(lowered);

  std::string plain, html;
  const bool foundPlain = varnox::FindMimePart(original, "content-type: text/plain", plain);
  const bool foundHtml = varnox::FindMimePart(original, "content-type: text/html", html);
  for (const std::string* part : {&plain, &html}) {
    if (part->size() > original.size()) Fail("part longer than the text");
    if (HasUpperAscii(*part)) Fail("part not lowered");
  }
  if (foundPlain && lowered.find(plain) == std::string::npos) Fail("plain part not in the text");
  if (foundHtml && lowered.find(html) == std::string::npos) Fail("html part not in the text");

  const std::string subject = "Fuzz Subject";
  std::string tokens, text;
  varnox::ExtractMessageText(lowered, original, subject, tokens, text, nullptr);
  if (!foundPlain && !foundHtml && !text.empty()) Fail("text without a part");
  if (foundPlain && HasUpperAscii(text)) Fail("plain text not lowered");
  if (text.find('\0') != std::string::npos) Fail("text holds a NUL");
  if (tokens != varnox::BuildTokenString(subject + " " + text)) Fail("tokens differ");
  if (!tokens.empty() && (tokens.front() == ' ' || tokens.back() != ' ')) Fail("bad blanks");
  if (tokens.find("  ") != std::string::npos) Fail("double blank");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(bytes);
  Check(varnox::CanonicalLineEnds(bytes));
  return 0;
}
