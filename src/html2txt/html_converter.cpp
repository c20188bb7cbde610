#include "html2txt/html_converter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "html2txt/html_tables.h"

namespace varnox {

namespace {

using Byte = unsigned char;
using html::kEntities;
using html::kTags;
using html::Replacement;

// Pattern bytes match an input byte that equals them or that does with bit
// 0x20 set: lower-case letters match both cases, punctuation also matches the
// control byte 0x20 below it. Upper-case letters match only themselves.
constexpr bool ByteMatches(Byte d, Byte p) {
  return d == p || (d | 0x20) == p;
}

// For every possible byte after the '<' or '&', the rows whose name can start
// with it (bit i for row i), so that a position is compared with a few rows
// instead of all.
template <std::size_t N>
constexpr std::array<std::uint32_t, 256> FirstByteCandidates(
    const std::array<Replacement, N>& rows) {
  static_assert(N <= 32);
  std::array<std::uint32_t, 256> mask{};
  for (unsigned b = 0; b < 256; ++b) {
    for (std::size_t i = 0; i < N; ++i) {
      if (ByteMatches(static_cast<Byte>(b), static_cast<Byte>(rows[i].from[0]))) {
        mask[b] |= std::uint32_t{1} << i;
      }
    }
  }
  return mask;
}

constexpr auto kTagCandidates = FirstByteCandidates(kTags);
constexpr auto kEntityCandidates = FirstByteCandidates(kEntities);

// Bytes that end a bulk run, per scanner mode. Everything else is copied (in
// text) or dropped (inside a tag) without further tests. Inside a tag a line
// feed needs no test either: it and any blanks after it are dropped whatever
// follows, and the tag ends at a '>', never at a line feed.
enum : Byte { kInText = 1, kInTextComment = 2, kInTag = 4, kInTagComment = 8 };

constexpr std::array<Byte, 256> kStops = [] {
  std::array<Byte, 256> stops{};
  auto mark = [&](Byte b, Byte modes) { stops[b] |= modes; };
  constexpr Byte kAll = kInText | kInTextComment | kInTag | kInTagComment;
  mark('<', kAll);
  mark(0x1C, kAll);  // matches the '<' of "<title>", "<pre>", ...
  mark('&', kInText | kInTextComment);
  mark('\n', kInText | kInTextComment);
  mark('\r', kAll & ~kInTag);  // CR LF, and CR matches the '-' of "-->"
  mark('-', kInTextComment | kInTagComment);
  mark('>', kInTag | kInTagComment);
  return stops;
}();

bool IsBlank(Byte b) {
  return b == ' ' || b == '\t';
}

// The output of one run; bytes past the limit are dropped, so the result is
// always the start of what the run would have written without a limit.
class Writer {
 public:
  Writer(char* buffer, std::size_t limit) : buffer_(buffer), limit_(limit) {}

  void Put(char c) {
    if (size_ < limit_) buffer_[size_++] = c;
  }
  // Text without line feeds.
  void PutText(std::string_view text) {
    const std::size_t n = std::min(text.size(), limit_ - size_);
    std::memcpy(buffer_ + size_, text.data(), n);
    size_ += n;
  }
  // Inside a quotation every line feed written is followed by a tab.
  void PutLineFeed() {
    Put('\n');
    if (indent) Put('\t');
  }
  void PutMarked(std::string_view text) {
    for (char c : text) {
      if (c == '\n') {
        PutLineFeed();
      } else {
        Put(c);
      }
    }
  }
  std::size_t size() const { return size_; }

  bool indent = false;

 private:
  char* buffer_;
  std::size_t limit_;
  std::size_t size_ = 0;
};

// One run. Ordinary bytes are handled in bulk; only the bytes in kStops look
// at their surroundings, with the tests of the reference form in the same
// order (html_converter_plain.cpp).
class Scanner {
 public:
  using TitleField = std::array<char, HtmlConverter::kTitleSize>;

  Scanner(std::string_view in, char* out, std::size_t limit, TitleField& title)
      : in_(reinterpret_cast<const Byte*>(in.data())),
        len_(in.size()),
        out_(out, limit),
        title_(title) {}

  std::size_t Run() {
    std::size_t pos = 0;
    while (pos < len_) {
      const std::size_t start = pos;
      pos = SkipOrdinary(pos, Mode());
      if (!in_tag_) out_.PutText(Text(start, pos));
      if (pos == len_) break;
      pos = Stop(pos);
    }
    return out_.size();
  }

 private:
  Byte Mode() const {
    if (in_tag_) return in_comment_ ? kInTagComment : kInTag;
    return in_comment_ ? kInTextComment : kInText;
  }

  std::size_t SkipOrdinary(std::size_t pos, Byte mode) const {
    while (pos + 4 <= len_) {
      if (kStops[in_[pos]] & mode) return pos;
      if (kStops[in_[pos + 1]] & mode) return pos + 1;
      if (kStops[in_[pos + 2]] & mode) return pos + 2;
      if (kStops[in_[pos + 3]] & mode) return pos + 3;
      pos += 4;
    }
    while (pos < len_ && !(kStops[in_[pos]] & mode)) ++pos;
    return pos;
  }

  std::string_view Text(std::size_t from, std::size_t to) const {
    return {reinterpret_cast<const char*>(in_ + from), to - from};
  }

  bool MatchAt(std::size_t pos, std::string_view pattern) const {
    if (pos + pattern.size() > len_) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      if (!ByteMatches(in_[pos + i], static_cast<Byte>(pattern[i]))) return false;
    }
    return true;
  }

  bool BlankOrClose(std::size_t pos) const {
    return pos < len_ && (in_[pos] == ' ' || in_[pos] == '>');
  }

  // First position from `from` where pattern (which starts with '<') matches,
  // or the input length.
  std::size_t Find(std::size_t from, std::string_view pattern) const {
    for (std::size_t i = from; i < len_; ++i) {
      if ((in_[i] | 0x20) == '<' && MatchAt(i, pattern)) return i;
    }
    return len_;
  }

  // Handles the stop byte at pos; returns the next position to scan.
  std::size_t Stop(std::size_t pos) {
    const Byte c = in_[pos];
    const Byte n = pos + 1 < len_ ? in_[pos + 1] : 0;
    switch (c) {
      case '\n':
        if (pre_ && !in_tag_) out_.PutLineFeed();
        return AfterLineFeed(pos + 1);
      case '\r':
        if (in_comment_ && MatchAt(pos, "-->")) return EndComment(pos);
        if (in_tag_) return pos + 1;
        if (n == '\n') {
          out_.PutLineFeed();
          return AfterLineFeed(pos + 2);
        }
        out_.Put('\r');
        return pos + 1;
      case '-':
        if (in_comment_ && MatchAt(pos, "-->")) return EndComment(pos);
        if (!in_tag_) out_.Put('-');
        return pos + 1;
      case '>':
        if (in_tag_) {
          in_tag_ = false;
        } else {
          out_.Put('>');
        }
        return pos + 1;
      case '&':
        if (in_tag_) return pos + 1;
        return Entity(pos, n);
      default:  // '<' or 0x1C
        return Markup(pos, c, n);
    }
  }

  // A line that starts with blanks or tabs right before a '<' loses them.
  std::size_t AfterLineFeed(std::size_t pos) const {
    std::size_t end = pos;
    while (end < len_ && IsBlank(in_[end])) ++end;
    return end > pos && end < len_ && in_[end] == '<' ? end : pos;
  }

  std::size_t EndComment(std::size_t pos) {
    out_.PutLineFeed();
    in_comment_ = false;
    return pos + 3;
  }

  std::size_t Entity(std::size_t pos, Byte n) {
    for (std::uint32_t m = kEntityCandidates[n]; m != 0; m &= m - 1) {
      const Replacement& entity = kEntities[std::countr_zero(m)];
      if (MatchAt(pos + 1, entity.from)) {
        out_.PutText(entity.to);
        return pos + 1 + entity.from.size();
      }
    }
    out_.Put('&');
    return pos + 1;
  }

  std::size_t Markup(std::size_t pos, Byte c, Byte n) {
    // Every pattern byte tested below has bit 0x20 set, so n | 0x20 names
    // the only pattern byte that n can match.
    const Byte key = n | 0x20;
    if (key == 't' && MatchAt(pos, "<title>")) return ReadTitle(pos);

    std::size_t d = pos;
    if (c == '<') {
      for (std::uint32_t m = kTagCandidates[n]; m != 0; m &= m - 1) {
        const Replacement& tag = kTags[std::countr_zero(m)];
        if (MatchAt(pos + 1, tag.from) && BlankOrClose(pos + 1 + tag.from.size())) {
          out_.PutMarked(tag.to);
          d = pos + tag.from.size();  // its last letter: the rest is a tag body
          break;
        }
      }
    }
    if (d == pos) {
      switch (key) {
        case 'b':
          if (MatchAt(pos, "<blockquote>")) out_.indent = true;
          break;
        case '/':
          if (MatchAt(pos, "</blockquote>")) out_.indent = false;
          if (MatchAt(pos, "</pre>")) pre_ = false;
          break;
        case 'p':
          if (MatchAt(pos, "<pre>")) pre_ = true;
          break;
        case 's':
          if (c == '<' && ElementAt(pos, "script")) return SkipElement(pos, "</script>");
          if (c == '<' && ElementAt(pos, "style")) return SkipElement(pos, "</style>");
          break;
        case 'x':
          if (c == '<' && ElementAt(pos, "xml")) return SkipElement(pos, "</xml>");
          break;
        default:
          break;
      }
    }

    if (c == '<' && n != 0) {
      const bool letter = (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z');
      if (letter || n == '/' || n == '?') {
        in_tag_ = true;
      } else if (n == '!') {
        if (MatchAt(d, "<!--")) {
          out_.PutMarked("\nComment:\n\t");
          in_comment_ = true;
          return d + 4;
        }
        in_tag_ = true;
      }
    }
    if (!in_tag_) out_.Put(static_cast<char>(c));
    return d + 1;
  }

  bool ElementAt(std::size_t pos, std::string_view name) const {
    return MatchAt(pos + 1, name) && BlankOrClose(pos + 1 + name.size());
  }

  // Drops everything up to and including the closing tag; the search starts
  // after the byte that follows the name.
  std::size_t SkipElement(std::size_t pos, std::string_view close) {
    const std::size_t name_size = close.size() - 3;
    const std::size_t end = Find(pos + name_size + 2, close);
    return end == len_ ? len_ : end + close.size();
  }

  std::size_t ReadTitle(std::size_t pos) {
    constexpr std::string_view kClose = "</title>";
    const std::size_t start = pos + 7;
    const std::size_t end = Find(start, kClose);
    const std::string_view text = Text(start, end);
    title_.fill('\0');
    text.copy(title_.data(), TitleFieldLength(text));
    if (end == len_) return len_;  // never closed: the rest is swallowed
    out_.PutText("Title: ");
    out_.PutMarked(title_.data());
    out_.PutLineFeed();
    return end + kClose.size();
  }

  const Byte* in_;
  std::size_t len_;
  Writer out_;
  TitleField& title_;
  bool pre_ = false;
  bool in_tag_ = false;
  bool in_comment_ = false;
};

// The single instance behind HtmlToText(html, out).
constinit std::unique_ptr<HtmlConverter> g_converter;

bool IsContinuation(Byte b) {
  return (b & 0xC0) == 0x80;
}

// Bytes of the UTF-8 character a lead byte starts; 0 for other bytes.
std::size_t SequenceLength(Byte b) {
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::size_t TitleFieldLength(std::string_view title) {
  constexpr std::size_t kMax = HtmlConverter::kTitleSize - 1;
  if (title.size() <= kMax) return title.size();
  const auto* t = reinterpret_cast<const Byte*>(title.data());
  if (!IsContinuation(t[kMax])) return kMax;
  // Find the lead byte of the character that t[kMax] continues.
  std::size_t lead = kMax - 1;
  while (lead > kMax - 3 && IsContinuation(t[lead])) --lead;
  const std::size_t length = SequenceLength(t[lead]);
  if (length == 0 || lead + length <= kMax || lead + length > title.size()) return kMax;
  for (std::size_t i = lead + 1; i < lead + length; ++i) {
    if (!IsContinuation(t[i])) return kMax;
  }
  return lead;
}

bool HtmlConverter::ObtainOutput(std::size_t capacity) {
  // A buffer that fits is reused rather than replaced on every run; one far
  // too big (left by a huge message) is given back.
  constexpr std::size_t kSlack = std::size_t{1} << 20;
  if (out_ && capacity <= out_capacity_ && out_capacity_ <= 4 * capacity + kSlack) return true;
  out_.reset();
  out_capacity_ = 0;
  try {
    out_ = std::make_unique_for_overwrite<char[]>(capacity);
  } catch (const std::bad_alloc&) {
    return false;
  }
  out_capacity_ = capacity;
  return true;
}

std::string_view HtmlConverter::Convert(std::string_view html) {
  const std::size_t capacity = HtmlOutputBound(html.size());
  if (!ObtainOutput(capacity)) {
    std::fputs("cannot alloc output buffer.\n", stderr);
    return "";
  }
  Scanner scanner(html, out_.get(), capacity - 1, title_);
  const std::size_t size = scanner.Run();
  out_[size] = '\0';
  return {out_.get(), size};
}

int HtmlToText(HtmlConverter* converter, const char* html, char* out) {
  if (converter == nullptr) return -1;
  const std::string_view text = converter->Convert(html);
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return 0;
}

bool CreateHtmlConverter() {
  if (g_converter) return true;
  try {
    g_converter = std::make_unique<HtmlConverter>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int HtmlToText(const char* html, char* out) {
  return HtmlToText(g_converter.get(), html, out);
}

}  // namespace varnox
