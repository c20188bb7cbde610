// Porter stemming of one lower-case word in place (Snowball's "porter").
#pragma once

#include <cstddef>

namespace varnox {

// Stems the NUL-terminated word in place; the stem is never longer than the
// word and is NUL-terminated where it ends.
void p_PorterStem(char* word);

// Same for a word of known length that need not be terminated. Returns the
// stem's length (<= len); writes no terminator.
std::size_t PorterStem(char* word, std::size_t len);

}  // namespace varnox
