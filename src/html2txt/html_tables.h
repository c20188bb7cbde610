// The tables of the HTML-to-text conversion, shared by the fast converter
// and its step-by-step reference so that both always convert the same tags
// and entities.
#pragma once

#include <array>
#include <string_view>

namespace varnox::html {

struct Replacement {
  std::string_view from;
  std::string_view to;
};

// Tags that make line structure, in the order they are tried.
inline constexpr std::array<Replacement, 22> kTags{{
    {"h1", "\n"},
    {"/h1", "\n"},
    {"h2", "\n"},
    {"/h2", "\n"},
    {"h3", "\n"},
    {"/h3", "\n"},
    {"h4", "\n"},
    {"/h4", "\n"},
    {"cite", "\""},
    {"/cite", "\""},
    {"ul", "\n"},
    {"ol", "\n"},
    {"dl", "\n"},
    {"li", "\n\t\xE3\x83\xBB"},  // U+30FB KATAKANA MIDDLE DOT as bullet
    {"dt", "\n\t\xE3\x83\xBB"},
    {"/tr", "\n"},
    {"div", "\n"},
    {"/div", "\n"},
    {"p", "\n\n"},
    {"/p", "\n"},
    {"br", "\n"},
    {"/br", "\n"},
}};

// Decoded entities without their '&', in the order they are tried. The
// accented letters come out as UTF-8, upper- and lower-case entities alike.
inline constexpr std::array<Replacement, 24> kEntities{{
    {"lt;", "<"},
    {"gt;", ">"},
    {"amp;", "&"},
    {"quot;", "\""},
    {"Aacute;", "\xC3\xA1"},
    {"Iacute;", "\xC3\xAD"},
    {"ETH;", "\xC3\x90"},
    {"Ntilde;", "\xC3\xB1"},
    {"Oacute;", "\xC3\xB3"},
    {"Oslash;", "0"},
    {"Uacute;", "\xC3\xBA"},
    {"Yacute;", "Y"},
    {"aacute;", "\xC3\xA1"},
    {"iacute;", "\xC3\xAD"},
    {"eth;", "\xC3\x90"},
    {"ntilde;", "\xC3\xB1"},
    {"oacute;", "\xC3\xB3"},
    {"oslash;", "0"},
    {"uacute;", "\xC3\xBA"},
    {"yacute;", "Y"},
    {"reg;", "(r)"},
    {"copy;", "(c)"},
    {"trade;", "tm"},
    {"nbsp;", " "},
}};

}  // namespace varnox::html
