// The HTML-to-text conversion written out step by step, one position at a
// time, with no shortcuts: the converter must agree with it byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace varnox {

// When title is not null and the run reads a title, *title receives the title
// field's text.
std::string HtmlToTextPlain(std::string_view html, std::string* title = nullptr);

}  // namespace varnox
