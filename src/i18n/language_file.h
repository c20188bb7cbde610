// The parser of language files: lines of the shape
//   name=KEYWORD;name=NUMBER;name="TEXT"
// that set control texts, menu texts and interface strings. The parser only
// reads; what a line changes is up to the handlers it is given.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace varnox {

// A line is read into a buffer of this size: at most 259 bytes, line end
// included. A longer line is read as several lines of at most 259 bytes,
// each cut before a UTF-8 character that would not fit whole.
constexpr std::size_t kLanguageLineBuffer = 260;

struct LanguageFileHandlers {
  // Every line whose keyword is not exactly "MENUITEM": the text of the
  // controls with this identifier.
  std::function<void(int id, const std::string& text)> controlText;
  // "MENUITEM": the text of the menu item with this command identifier.
  std::function<void(int id, const std::string& text)> menuText;
  // "STRINGTABLE" (any letter case) whose identifier field is written as a
  // plain decimal number without leading zeros: the interface string of
  // that number (the handler ignores numbers that name none).
  std::function<void(int number, const std::string& text)> interfaceString;
};

// Parses the bytes of a language file. True when they were read to their end
// or to a line with fewer than two fields, false at a line with two to five
// fields (the lines before it stay applied). Texts handed on are valid UTF-8
// (invalid bytes become U+FFFD) and end at a NUL byte.
bool ParseLanguageText(std::string_view bytes, const LanguageFileHandlers& handlers);

// The same for a file; false as well when it cannot be opened or read (a
// directory, for instance) or is no regular file.
bool ParseLanguageFile(const std::string& path, const LanguageFileHandlers& handlers);

}  // namespace varnox
