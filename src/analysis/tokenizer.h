// Token strings: the distinct, lower-cased, stemmed words of a text, sorted by
// byte value, each followed by one blank. Stored with every logged message and
// every rule, so the format is persistent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnox {

// A token string split into separate strings; its holder owns them.
using TokenList = std::vector<std::string>;

// Lower-cases and cuts the NUL-terminated text in place (pass a scratch copy)
// and writes its token string to out, which holds strlen(text) + 2 bytes.
void BuildTokenString(char* text, char* out);

// Convenience form on a copy of text (which ends at its first NUL, if any).
std::string BuildTokenString(std::string_view text);

// Builds list from a token string: tokens are the runs of non-blank bytes.
// count is set to 0 first. Returns 1 when a list was produced (possibly empty
// for a string of blanks), 0 for a null or empty string or when out of memory.
int SplitTokenString(const char* tokenString, TokenList& list, int& count);

// Releases the list; nothing happens when count is 0.
void FreeTokenList(TokenList& list, int& count);

// Stable insertion sort of the first count entries by unsigned byte order.
void SortTokenList(TokenList& list, int count);

}  // namespace varnox
