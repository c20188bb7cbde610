#include "mailstore/extract.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "analysis/tokenizer.h"
#include "html2txt/html_converter.h"
#include "mailstore/decode.h"
#include "platform/trace.h"

namespace varnox {
namespace {

constexpr std::string_view kPlainHeader = "content-type: text/plain";
constexpr std::string_view kHtmlHeader = "content-type: text/html";

// Where a part stands in the MIME text; positions are the same in the
// lowered and the original text.
struct PartSpan {
  std::size_t field;     // the header line found
  std::size_t blockEnd;  // the CR LF CR LF after it
  std::size_t begin;     // the content
  std::size_t end;
};

std::optional<PartSpan> LocateMimePart(std::string_view lowered, std::string_view headerLine) {
  const std::size_t firstLineEnd = lowered.find("\r\n");
  if (firstLineEnd == std::string_view::npos) return std::nullopt;
  // The first line never counts: it holds no header of a part.
  const std::size_t field = lowered.find(headerLine, firstLineEnd + 2);
  if (field == std::string_view::npos) return std::nullopt;
  const std::size_t blockEnd = lowered.find("\r\n\r\n", field);
  if (blockEnd == std::string_view::npos) return std::nullopt;

  std::size_t begin = blockEnd + 4;
  while (begin < lowered.size() && (lowered[begin] == '\r' || lowered[begin] == '\n')) ++begin;
  const std::string_view content = lowered.substr(begin);
  std::size_t end = lowered.size();
  // An HTML document is kept whole: its own lines may start with "--".
  if (!content.starts_with("<!doctype") && !content.starts_with("<html")) {
    const std::size_t boundary = content.find("\r\n--");
    if (boundary != std::string_view::npos) end = begin + boundary;
  }
  return PartSpan{field, blockEnd, begin, end};
}

void CutAtFirstNul(std::string& text) {
  text.resize(std::strlen(text.c_str()));
}

// The part's text: its bytes as written (lowered), or, when its header names
// a transfer encoding or a charset to convert, the original bytes decoded to
// UTF-8 and then lowered. Cut at a NUL, as every text of the system.
std::string PartText(std::string_view lowered, std::string_view original, const PartSpan& span,
                     std::size_t headerLength) {
  const std::size_t length = span.end - span.begin;
  std::string text(lowered.substr(span.begin, length));
  // Without the original bytes (a caller's slip) base64 cannot be decoded.
  if (original.size() == lowered.size()) {
    const PartHeaders headers =
        ReadPartHeaders(lowered, span.field, span.field + headerLength, span.blockEnd);
    const bool convert = NeedsCharsetConversion(headers.charset);
    if (headers.encoding != TransferEncoding::kNone || convert) {
      const std::string_view raw = original.substr(span.begin, length);
      std::string decoded;
      bool ok = true;
      if (headers.encoding == TransferEncoding::kBase64) ok = DecodeBase64(raw, decoded);
      if (headers.encoding == TransferEncoding::kQuotedPrintable) {
        ok = DecodeQuotedPrintable(raw, decoded);
      }
      if (headers.encoding == TransferEncoding::kNone || !ok) decoded.assign(raw);
      if (convert) {
        std::string utf8;
        if (ConvertToUtf8(decoded, headers.charset, utf8)) decoded.swap(utf8);
      }
      LowerAscii(decoded);
      text.swap(decoded);
    }
  }
  CutAtFirstNul(text);
  return text;
}

// The HTML page (up to its first NUL) as plain text (up to its first NUL),
// through a converter of this thread's own: messages are read on several
// threads, and each converter keeps its output buffer between pages.
std::string HtmlPageText(const std::string& page) {
  thread_local HtmlConverter converter;
  return std::string(converter.Convert(page.c_str()).data());
}

}  // namespace

bool FindMimePart(std::string_view mimeText, std::string_view headerLine, std::string& part) {
  try {
    std::string lowered(mimeText);
    LowerAscii(lowered);
    const std::optional<PartSpan> span = LocateMimePart(lowered, headerLine);
    if (!span) return false;
    part.assign(lowered, span->begin, span->end - span->begin);
    return true;
  } catch (...) {
    Trace("ERROR in FindMimePart");
    return false;
  }
}

bool FindDecodedMimePart(std::string_view mimeText, std::string_view headerLine,
                         std::string& part) {
  try {
    std::string lowered(mimeText);
    LowerAscii(lowered);
    const std::optional<PartSpan> span = LocateMimePart(lowered, headerLine);
    if (!span) return false;
    part = PartText(lowered, mimeText, *span, headerLine.size());
    return true;
  } catch (...) {
    Trace("ERROR in FindMimePart");
    return false;
  }
}

void ExtractMessageText(std::string_view lowered, std::string_view original,
                        const std::string& subject, std::string& tokens, std::string& text) {
  ExtractMessageText(lowered, original, subject, tokens, text,
                     [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
}

void ExtractMessageText(std::string_view lowered, std::string_view original,
                        const std::string& subject, std::string& tokens, std::string& text,
                        const ExtractPause& pause) {
  tokens.clear();
  text.clear();
  try {
    const std::optional<PartSpan> plain = LocateMimePart(lowered, kPlainHeader);
    // The plain part wins, so the HTML part is only sought without one.
    const std::optional<PartSpan> html =
        plain ? std::nullopt : LocateMimePart(lowered, kHtmlHeader);
    if (pause) pause(kExtractPause);

    if (plain) {
      text = PartText(lowered, original, *plain, kPlainHeader.size());
    } else if (html) {
      text = HtmlPageText(PartText(lowered, original, *html, kHtmlHeader.size()));
    }
    tokens = BuildTokenString(subject + " " + text);
  } catch (...) {
    Trace("ERROR in ExtractMessageText");
  }
}

std::string NarrowLowBytes(std::u16string_view wide) {
  std::string narrow;
  narrow.reserve(wide.size());
  for (const char16_t unit : wide) {
    // A low byte of zero ends the 8-bit text, as its terminator would.
    const char low = static_cast<char>(unit & 0xFF);
    if (low == '\0') break;
    narrow.push_back(low);
  }
  return narrow;
}

}  // namespace varnox
