#include "mailstore/decode.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/ascii_text.h"

namespace varnox {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kTransferEncoding = "content-transfer-encoding:";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsSpace(char c) {
  return IsBlank(c) || c == '\r' || c == '\n';
}

// Where the header block holding typeStart begins: after the previous empty
// line or at the previous boundary line, else at the start of the text.
std::size_t BlockStart(std::string_view lowered, std::size_t typeStart) {
  const std::string_view before = lowered.substr(0, typeStart);
  std::size_t start = 0;
  const std::size_t blank = before.rfind("\r\n\r\n");
  if (blank != std::string_view::npos) start = blank + 4;
  const std::size_t boundary = before.rfind("\r\n--");
  if (boundary != std::string_view::npos && boundary + 2 > start) start = boundary + 2;
  return start;
}

// The end of the header field starting at pos inside block: folded lines
// (a line end followed by a blank) belong to it.
std::size_t FieldEnd(std::string_view block, std::size_t pos) {
  for (;;) {
    const std::size_t eol = block.find(kCrLf, pos);
    if (eol == std::string_view::npos) return block.size();
    if (eol + 2 < block.size() && IsBlank(block[eol + 2])) {
      pos = eol + 2;
      continue;
    }
    return eol;
  }
}

// The first word of a header value, quotes, blanks and folds skipped.
std::string_view FirstWord(std::string_view value) {
  std::size_t begin = 0;
  while (begin < value.size() && (IsSpace(value[begin]) || value[begin] == '"')) ++begin;
  std::size_t end = begin;
  while (end < value.size() && !IsSpace(value[end]) && value[end] != '"' && value[end] != ';' &&
         value[end] != '(') {
    ++end;
  }
  return value.substr(begin, end - begin);
}

// The charset parameter among params. A parameter starts after a semicolon
// or a blank outside quotes; mailers that forget the semicolon still name
// their charset.
std::string CharsetParameter(std::string_view params) {
  constexpr std::string_view kName = "charset";
  bool quoted = false;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const char c = params[i];
    if (c == '"') quoted = !quoted;
    if (quoted || !(c == ';' || IsSpace(c))) continue;
    std::size_t p = i + 1;
    if (params.substr(p, kName.size()) != kName) continue;
    p += kName.size();
    while (p < params.size() && IsSpace(params[p])) ++p;
    if (p == params.size() || params[p] != '=') continue;
    ++p;
    while (p < params.size() && IsSpace(params[p])) ++p;
    if (p < params.size() && params[p] == '"') {
      const std::size_t close = params.find('"', p + 1);
      const std::size_t end = close == std::string_view::npos ? params.size() : close;
      std::string_view value = params.substr(p + 1, end - p - 1);
      while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
      while (!value.empty() && IsSpace(value.back())) value.remove_suffix(1);
      return std::string(value);
    }
    return std::string(FirstWord(params.substr(p)));
  }
  return {};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr std::array<std::int8_t, 256> Base64Table() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table) v = -1;
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}
constexpr auto kBase64 = Base64Table();

// Writes the bytes of a group of count sextets held in bits (2 to 4).
void EmitBase64Group(std::uint32_t bits, int count, std::string& out) {
  if (count == 2) {
    out.push_back(static_cast<char>(bits >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<char>(bits >> 10));
    out.push_back(static_cast<char>((bits >> 2) & 0xFF));
  } else if (count == 4) {
    out.push_back(static_cast<char>(bits >> 16));
    out.push_back(static_cast<char>((bits >> 8) & 0xFF));
    out.push_back(static_cast<char>(bits & 0xFF));
  }
}

// Owns one iconv conversion descriptor.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The descriptors this thread opened last, by lower-case charset name. The
// C library loads a module for a charset when a descriptor opens and drops
// it when the last one closes: keeping a few open spares that at every part.
class IconvCache {
 public:
  // A descriptor to UTF-8 in its initial state, or null when the charset
  // is unknown (that answer is not kept: it is rare and cheap).
  iconv_t Get(const std::string& name) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->first != name) continue;
      if (it != entries_.begin()) std::rotate(entries_.begin(), it, it + 1);
      iconv(entries_.front().second->get(), nullptr, nullptr, nullptr, nullptr);
      return entries_.front().second->get();
    }
    auto cd = std::make_unique<IconvHandle>("UTF-8", name.c_str());
    if (!cd->valid()) return nullptr;
    if (entries_.size() >= kKept) entries_.pop_back();
    entries_.emplace(entries_.begin(), name, std::move(cd));
    return entries_.front().second->get();
  }

 private:
  static constexpr std::size_t kKept = 8;
  std::vector<std::pair<std::string, std::unique_ptr<IconvHandle>>> entries_;  // latest first
};

// A charset name as mail writes them; anything else (iconv's "//" modifiers,
// separators, control bytes) is not handed to iconv at all.
bool PlausibleCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':' || c == '+' || c == '(' ||
                    c == ')';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

PartHeaders ReadPartHeaders(std::string_view lowered, std::size_t typeStart,
                            std::size_t paramsStart, std::size_t blockEnd) {
  PartHeaders headers;
  if (blockEnd > lowered.size() || typeStart > paramsStart || paramsStart > blockEnd) {
    return headers;
  }
  const std::size_t start = BlockStart(lowered, typeStart);
  const std::string_view block = lowered.substr(start, blockEnd - start);

  const std::size_t typeField = typeStart - start;
  const std::size_t typeEnd = FieldEnd(block, paramsStart - start);
  headers.charset = CharsetParameter(block.substr(typeField, typeEnd - typeField));

  // Header names only count at the start of a line.
  for (std::size_t pos = 0; pos < block.size();) {
    if (block.substr(pos, kTransferEncoding.size()) == kTransferEncoding) {
      const std::size_t value = pos + kTransferEncoding.size();
      const std::string_view word = FirstWord(block.substr(value, FieldEnd(block, value) - value));
      if (word == "base64") headers.encoding = TransferEncoding::kBase64;
      if (word == "quoted-printable") headers.encoding = TransferEncoding::kQuotedPrintable;
      break;
    }
    const std::size_t eol = block.find(kCrLf, pos);
    if (eol == std::string_view::npos) break;
    pos = eol + 2;
  }
  return headers;
}

bool DecodeQuotedPrintable(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const std::size_t eq = in.find('=', i);
    if (eq == std::string_view::npos) {
      out.append(in.substr(i));
      break;
    }
    out.append(in.substr(i, eq - i));
    i = eq + 1;
    if (i + 1 < in.size() && HexValue(in[i]) >= 0 && HexValue(in[i + 1]) >= 0) {
      out.push_back(static_cast<char>(HexValue(in[i]) * 16 + HexValue(in[i + 1])));
      i += 2;
      continue;
    }
    // A soft line break; transport may have left blanks before its line end.
    std::size_t j = i;
    while (j < in.size() && IsBlank(in[j])) ++j;
    if (j == in.size()) break;
    if (in[j] == '\n') {
      i = j + 1;
    } else if (in.substr(j, 2) == kCrLf) {
      i = j + 2;
    } else {
      return false;
    }
  }
  return true;
}

bool DecodeBase64(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;
  bool padded = false;  // just after the "=" that closed a group
  for (const char c : in) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      if (count >= 2) {
        EmitBase64Group(bits, count, out);
        bits = 0;
        count = 0;
        padded = true;
        continue;
      }
      if (count == 0 && padded) continue;
      return false;
    }
    const int value = kBase64[static_cast<unsigned char>(c)];
    if (value < 0) return false;
    padded = false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      EmitBase64Group(bits, count, out);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return false;
  EmitBase64Group(bits, count, out);
  return true;
}

bool NeedsCharsetConversion(std::string_view charset) {
  const std::string name = LowerAsciiCopy(charset);
  return !(name.empty() || name == "us-ascii" || name == "ascii" || name == "utf-8" ||
           name == "utf8");
}

bool ConvertToUtf8(std::string_view in, std::string_view charset, std::string& out) {
  if (!PlausibleCharsetName(charset)) return false;
  thread_local IconvCache cache;
  const iconv_t cd = cache.Get(LowerAsciiCopy(charset));
  if (cd == nullptr) return false;

  std::string result;
  result.reserve(in.size() + in.size() / 2);
  std::array<char, 16384> buffer;
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  bool flushed = false;
  while (!flushed) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    // With no input left, the call writes what closes a shift state.
    const std::size_t r = inLeft > 0 ? iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft)
                                     : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    const int error = errno;
    const std::size_t written = static_cast<std::size_t>(outPtr - buffer.data());
    result.append(buffer.data(), written);
    if (r != static_cast<std::size_t>(-1)) {
      flushed = inLeft == 0 && written == 0;
      continue;
    }
    if (error == E2BIG && written > 0) continue;
    if (error == EILSEQ && inLeft > 0) {
      // One undefined byte costs one replacement character, not the text.
      result.append(kReplacement);
      ++inPtr;
      --inLeft;
      continue;
    }
    if (error == EINVAL && inLeft > 0) {
      // A character cut off by the end of the part.
      result.append(kReplacement);
      inLeft = 0;
      continue;
    }
    return false;
  }
  out = std::move(result);
  return true;
}

}  // namespace varnox
