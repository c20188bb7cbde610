// The reference form of the HTML-to-text conversion: every test made at every
// position, in order, exactly as the converter is defined. Slow on purpose; the
// fast converter in html_converter.cpp must give the same bytes.
#include "reference/html_converter_plain.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "html2txt/html_converter.h"
#include "html2txt/html_tables.h"

namespace varnox {

namespace {

using html::kEntities;
using html::kTags;
using html::Replacement;

constexpr std::array<std::string_view, 3> kSkippedElements{"script", "style", "xml"};

// Input byte d matches pattern byte p when equal, or when d with bit 0x20 set
// equals p.
bool MatchAt(std::string_view in, std::size_t pos, std::string_view pattern) {
  if (pos + pattern.size() > in.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const auto d = static_cast<unsigned char>(in[pos + i]);
    const auto p = static_cast<unsigned char>(pattern[i]);
    if (d != p && (d | 0x20) != p) return false;
  }
  return true;
}

// Blanks and tabs from pos: their count at the first other byte, or -1 when a
// line feed or the end of the input comes first.
std::ptrdiff_t CountBlanks(std::string_view in, std::size_t pos) {
  std::ptrdiff_t count = 0;
  for (; pos < in.size(); ++pos, ++count) {
    if (in[pos] == '\n') return -1;
    if (in[pos] != ' ' && in[pos] != '\t') return count;
  }
  return -1;
}

bool BlankOrClose(std::string_view in, std::size_t pos) {
  return pos < in.size() && (in[pos] == ' ' || in[pos] == '>');
}

bool TagAt(std::string_view in, std::size_t pos, std::string_view name) {
  return pos < in.size() && in[pos] == '<' && MatchAt(in, pos + 1, name) &&
         BlankOrClose(in, pos + 1 + name.size());
}

// Output bytes go one at a time: a line feed inside a quotation is followed
// by a tab, and nothing is kept past the limit.
class Output {
 public:
  explicit Output(std::size_t limit) : limit_(limit) {}

  void Put(char c) {
    if (text_.size() < limit_) text_.push_back(c);
    if (c == '\n' && indent) Put('\t');
  }
  void Put(std::string_view s) {
    for (char c : s) Put(c);
  }
  std::string Take() { return std::move(text_); }

  bool indent = false;

 private:
  std::string text_;
  std::size_t limit_;
};

}  // namespace

std::string HtmlToTextPlain(std::string_view in, std::string* title) {
  const std::size_t len = in.size();
  Output out(HtmlOutputBound(len) - 1);  // one byte stays for the terminator
  char prev = 0;
  bool pre = false;
  bool in_tag = false;
  bool in_comment = false;
  std::size_t pos = 0;

  // One position; returns the last input position it consumed.
  auto step = [&](const char c, const char n) -> std::size_t {
    std::size_t d = pos;
    if (c == '\n' && !pre) return d;

    if (prev == '\n') {
      const std::ptrdiff_t k = CountBlanks(in, pos);
      if (k > 0 && in[pos + k] == '<') return pos + k - 1;
    }

    if (MatchAt(in, d, "<title>")) {
      std::size_t i = d + 7;
      std::string text;
      while (i < len && !MatchAt(in, i, "</title>")) text.push_back(in[i++]);
      std::array<char, HtmlConverter::kTitleSize> field{};
      text.copy(field.data(), TitleFieldLength(text));
      if (title != nullptr) *title = field.data();
      if (i >= len) return len - 1;  // no end tag: the rest is swallowed
      out.Put("Title: ");
      out.Put(field.data());
      out.Put('\n');
      return i + 7;
    }

    for (const Replacement& tag : kTags) {
      if (TagAt(in, d, tag.from)) {
        out.Put(tag.to);
        d += tag.from.size();
      }
    }

    if (MatchAt(in, d, "<blockquote>")) out.indent = true;
    if (MatchAt(in, d, "</blockquote>")) out.indent = false;
    if (MatchAt(in, d, "<pre>")) pre = true;
    if (MatchAt(in, d, "</pre>")) pre = false;

    for (std::string_view name : kSkippedElements) {
      if (in[d] == '<' && MatchAt(in, d + 1, name) && BlankOrClose(in, d + 1 + name.size())) {
        const std::string close = "</" + std::string(name) + ">";
        for (std::size_t i = d + name.size() + 2; i < len; ++i) {
          if (MatchAt(in, i, close)) return i + close.size() - 1;
        }
        return len - 1;
      }
    }

    if (c == '<' && n != 0) {
      const bool letter = (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z');
      if (letter || n == '/' || n == '?') {
        in_tag = true;
      } else if (n == '!') {
        if (MatchAt(in, d, "<!--")) {
          out.Put("\nComment:\n\t");
          in_comment = true;
          return d + 3;
        }
        in_tag = true;
      }
    }

    if (in_comment && MatchAt(in, d, "-->")) {
      out.Put('\n');
      in_comment = false;
      return d + 2;
    }

    if (c == '>' && in_tag) {
      in_tag = false;
      return d;
    }
    if (in_tag) return d;

    if (c == '&') {
      for (const Replacement& entity : kEntities) {  // names without their '&'
        if (MatchAt(in, d + 1, entity.from)) {
          out.Put(entity.to);
          return d + entity.from.size();
        }
      }
    }
    if (c == '\r' && n == '\n') {
      out.Put('\n');
      return d + 1;
    }
    out.Put(c);
    return d;
  };

  while (pos < len) {
    const char c = in[pos];
    const char n = pos + 1 < len ? in[pos + 1] : '\0';
    const std::size_t d = step(c, n);
    prev = in[d];
    pos = d + 1;
  }
  return out.Take();
}

}  // namespace varnox
