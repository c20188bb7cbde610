// Header columns of a message: the header block is cut and unfolded here, and
// only the two values the contents table needs go through GMime, which
// decodes RFC 2047 words in any charset and splits the From address.
#include <gmime/gmime.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/ascii_text.h"
#include "platform/maildir.h"

namespace varnox {
namespace {

struct GFreeDeleter {
  void operator()(char* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

struct GObjectDeleter {
  void operator()(gpointer p) const { g_object_unref(p); }
};
using AddressListPtr = std::unique_ptr<InternetAddressList, GObjectDeleter>;

bool IsFoldSpace(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (IsFoldSpace(s.front()) || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (IsFoldSpace(s.back()) || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// The raw values of the first Subject and of the first From field, unfolded.
// NUL bytes become spaces because GMime takes C strings.
struct RawFields {
  std::string subject;
  std::string from;
  bool haveSubject = false;
  bool haveFrom = false;
};

RawFields CutFields(std::string_view block) {
  RawFields raw;
  std::string* current = nullptr;  // the field whose continuation lines are being collected
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find('\n', pos);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the end of the header block
    if (IsFoldSpace(line.front())) {
      if (current != nullptr) current->append(line);
      continue;
    }
    current = nullptr;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && IsFoldSpace(name.back())) name.remove_suffix(1);
    const std::string_view value = line.substr(colon + 1);
    if (!raw.haveSubject && EqualIgnoringAsciiCase(name, "Subject")) {
      raw.haveSubject = true;
      current = &raw.subject;
    } else if (!raw.haveFrom && EqualIgnoringAsciiCase(name, "From")) {
      raw.haveFrom = true;
      current = &raw.from;
    }
    if (current != nullptr) current->assign(value);
    if (raw.haveSubject && raw.haveFrom && current == nullptr) break;
  }
  for (std::string* s : {&raw.subject, &raw.from}) {
    for (char& c : *s) {
      if (c == '\0') c = ' ';
    }
  }
  return raw;
}

// A column value: valid UTF-8 (GMime already converts, this is the guard),
// control characters as spaces so that a decoded line break or NUL cannot
// reach a log or a row key, and no surrounding blanks.
std::string CleanColumn(const char* text) {
  if (text == nullptr) return {};
  std::string out;
  if (g_utf8_validate(text, -1, nullptr)) {
    out.assign(text);
  } else {
    GCharPtr valid(g_utf8_make_valid(text, -1));
    out.assign(valid.get());
  }
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = ' ';
  }
  return std::string(TrimSpaces(out));
}

}  // namespace

void InitMailHeaderParser() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

MailHeaders ParseMailHeaders(std::string_view headerBlock) {
  InitMailHeaderParser();
  MailHeaders headers;
  const RawFields raw = CutFields(headerBlock);
  if (raw.haveSubject) {
    // Default options: 8-bit text is tried as UTF-8, then ISO-8859-1.
    GCharPtr decoded(g_mime_utils_header_decode_text(nullptr, raw.subject.c_str()));
    headers.subject = CleanColumn(decoded.get());
  }
  if (raw.haveFrom) {
    AddressListPtr list(internet_address_list_parse(nullptr, raw.from.c_str()));
    // GMime refuses a field with invalid UTF-8 outright; with those bytes as
    // U+FFFD the address still reads, and a sender rule still finds it.
    if (list == nullptr && !g_utf8_validate(raw.from.c_str(), -1, nullptr)) {
      GCharPtr valid(g_utf8_make_valid(raw.from.c_str(), -1));
      list.reset(internet_address_list_parse(nullptr, valid.get()));
    }
    const std::size_t open = raw.from.rfind('<');
    const std::size_t close = open == std::string::npos ? open : raw.from.find('>', open);
    if (list != nullptr && internet_address_list_length(list.get()) > 0) {
      InternetAddress* first = internet_address_list_get_address(list.get(), 0);
      // A group ("undisclosed-recipients:;") names no sender.
      if (INTERNET_ADDRESS_IS_MAILBOX(first)) {
        headers.senderName = CleanColumn(internet_address_get_name(first));
        headers.senderAddress =
            CleanColumn(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first)));
      }
    } else if (list == nullptr && close != std::string::npos) {
      // An address GMime cannot read ("<a b@example.com>"): its bytes as
      // they stand are still the sender's address.
      headers.senderAddress = CleanColumn(raw.from.substr(open + 1, close - open - 1).c_str());
      GCharPtr decoded(
          g_mime_utils_header_decode_phrase(nullptr, raw.from.substr(0, open).c_str()));
      headers.senderName = CleanColumn(decoded.get());
    } else if (list == nullptr) {
      // No address at all ("From: John Doe"): the text is still the sender.
      GCharPtr decoded(g_mime_utils_header_decode_phrase(nullptr, raw.from.c_str()));
      headers.senderName = CleanColumn(decoded.get());
    }
  }
  return headers;
}

std::string CanonicalLineEnds(std::string_view text) {
  std::size_t bare = 0;
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    if (i == 0 || text[i - 1] != '\r') ++bare;
  }
  std::string out;
  out.reserve(text.size() + bare);
  std::size_t from = 0;
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    if (i == 0 || text[i - 1] != '\r') {
      out.append(text.substr(from, i - from));
      out.append("\r\n");
      from = i + 1;
    }
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace varnox
