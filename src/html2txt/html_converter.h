// Single-pass HTML-to-text scanner for mail bodies.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnox {

// Room a caller gives the output of one conversion of an input of len bytes,
// terminator included. The output never exceeds it.
constexpr std::size_t HtmlOutputBound(std::size_t len) { return len + 4096; }

// The program's single converter instance, made once at start-up.
// Returns false when it could not be made; HtmlToText then answers -1.
bool CreateHtmlConverter();

// Converts the NUL-terminated html into out, which holds at least
// HtmlOutputBound(strlen(html)) bytes. Returns 0, or -1 (out untouched)
// when no converter instance exists. Runs must not overlap.
int HtmlToText(const char* html, char* out);

}  // namespace varnox
