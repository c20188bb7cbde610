#include <algorithm>
#include <cstring>
#include <new>

#include "analysis/tokenizer.h"

namespace varnox {

int SplitTokenString(const char* tokenString, TokenList& list, int& count) {
  count = 0;
  if (tokenString == nullptr || *tokenString == '\0') return 0;
  TokenList result;
  try {
    const std::string_view s(tokenString);
    std::size_t blanks = 0;
    for (char c : s) blanks += (c == ' ');
    result.reserve(blanks + 1);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const char* p = tokenString;
  while (*p != '\0') {
    while (*p == ' ') ++p;
    const char* start = p;
    while (*p != '\0' && *p != ' ') ++p;
    if (p == start) continue;
    try {
      result.emplace_back(start, p);
    } catch (const std::bad_alloc&) {
      break;  // keep what was obtained so far
    }
  }
  count = static_cast<int>(result.size());
  list = std::move(result);
  return 1;
}

void FreeTokenList(TokenList& list, int& count) {
  if (count == 0) return;
  TokenList().swap(list);
  count = 0;
}

void SortTokenList(TokenList& list, int count) {
  const int n = std::min<int>(count, static_cast<int>(list.size()));
  for (int i = 1; i < n; ++i) {
    std::string item = std::move(list[i]);
    int j = i - 1;
    // std::string compares char_traits<char>, which orders bytes as unsigned.
    while (j >= 0 && list[j].compare(item) > 0) {
      list[j + 1] = std::move(list[j]);
      --j;
    }
    list[j + 1] = std::move(item);
  }
}

}  // namespace varnox
