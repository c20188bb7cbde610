// The token string computed literally step by step, kept apart from the
// product so that tests, benchmarks and fuzz targets can hold the fast
// tokenizer against it.
#pragma once

#include <string_view>
#include <vector>

namespace varnox {

// The token string as the format is defined (scan, stem each token in place,
// split, insertion sort, drop repeats), with the same contract as
// BuildTokenString(char*, char*). Slow.
void BuildTokenStringPlain(char* text, char* out);

// Marks the delimiter bytes of text (1) and the token bytes (0), reading UTF-8
// from left to right: the section sign and the acute accent delimit as
// characters and as lone Latin-1 bytes, but not inside other characters.
void ClassifyDelimiters(std::string_view text, std::vector<unsigned char>& isDelimiter);

}  // namespace varnox
