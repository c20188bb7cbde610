// The tokenizer on any bytes: the fast form must equal the step-by-step form,
// the result must be well formed, and split and joined again it is unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/tokenizer.h"
#include "reference/tokenizer_plain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));

  std::string scratch = text;
  std::string out(text.size() + 2, '\0');
  varnox::BuildTokenString(scratch.data(), out.data());
  const std::string tokens = out.c_str();

  if (text.size() < 4096) {  // the plain form sorts by insertion
    std::string scratch2 = text;
    std::string plain(text.size() + 2, '\0');
    varnox::BuildTokenStringPlain(scratch2.data(), plain.data());
    if (tokens != plain.c_str()) std::abort();
  }

  if (!tokens.empty() && (tokens.front() == ' ' || tokens.back() != ' ')) std::abort();
  varnox::TokenList list;
  int count = 0;
  varnox::SplitTokenString(tokens.c_str(), list, count);
  std::string joined;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !(list[i - 1] < list[i])) std::abort();  // sorted, distinct
    joined += list[i] + " ";
  }
  if (joined != tokens) std::abort();
  varnox::FreeTokenList(list, count);
  return 0;
}
