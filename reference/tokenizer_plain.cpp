// The token string computed literally step by step: the reference for the
// fast tokenizer.
#include "reference/tokenizer_plain.h"

#include <cstring>

#include "analysis/delimiters.h"
#include "analysis/tokenizer.h"
#include "platform/stemmer.h"

namespace varnox {

void ClassifyDelimiters(std::string_view text, std::vector<unsigned char>& isDelimiter) {
  isDelimiter.assign(text.size(), 0);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char cls = detail::kByteClass[p[i]];
    if (cls != detail::kNonAscii) {
      isDelimiter[i] = cls;
      ++i;
      continue;
    }
    bool delimiter = false;
    const std::size_t n = detail::ClassifyNonAscii(p + i, text.size() - i, delimiter);
    for (std::size_t k = 0; k < n; ++k) isDelimiter[i + k] = delimiter ? 1 : 0;
    i += n;
  }
}

void BuildTokenStringPlain(char* text, char* out) {
  const std::size_t len = std::strlen(text);
  for (std::size_t i = 0; i < len; ++i)
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + ('a' - 'A'));
  out[0] = '\0';

  std::vector<unsigned char> isDelimiter;
  ClassifyDelimiters(std::string_view(text, len), isDelimiter);

  // Cut the text at each token's end, stem it in place, append it and a blank.
  std::size_t written = 0;
  std::size_t i = 0;
  while (i < len) {
    if (isDelimiter[i]) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < len && !isDelimiter[i]) ++i;
    if (i < len) text[i] = '\0';
    const std::size_t wordLen = i - start;
    std::string word(text + start, wordLen);  // the terminated token
    p_PorterStem(word.data());
    const std::size_t stemLen = std::strlen(word.c_str());
    std::memcpy(text + start, word.c_str(), stemLen + 1 <= wordLen ? stemLen + 1 : stemLen);
    std::memcpy(out + written, word.c_str(), stemLen);
    written += stemLen;
    out[written++] = ' ';
    ++i;
  }
  out[written] = '\0';

  TokenList list;
  int count = 0;
  SplitTokenString(out, list, count);
  SortTokenList(list, count);
  written = 0;
  for (int k = 0; k < count; ++k) {
    if (k > 0 && list[k] == list[k - 1]) continue;
    std::memcpy(out + written, list[k].data(), list[k].size());
    written += list[k].size();
    out[written++] = ' ';
  }
  out[written] = '\0';
  FreeTokenList(list, count);
}

}  // namespace varnox
