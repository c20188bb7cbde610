#include "i18n/language_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <vector>

#include "platform/sms_incoming.h"
#include "platform/unique_fd.h"

namespace varnox {
namespace {

constexpr std::size_t kMaxLine = kLanguageLineBuffer - 1;

// Where a piece of at most kMaxLine bytes that holds no line end must be cut
// so that it does not end inside a UTF-8 character.
std::size_t WholeCharacters(std::string_view piece) {
  const std::size_t n = piece.size();
  for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
    const auto c = static_cast<unsigned char>(piece[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
    // Cut before a lead byte whose character does not fit; a single byte, an
    // invalid one or a complete character stays.
    return c < 0xC2 || c > 0xF4 || need <= back ? n : n - back;
  }
  return n;
}

// The lines as a 260-byte buffer reads them.
class LineReader {
 public:
  explicit LineReader(std::function<long(char*, std::size_t)> read) : read_(std::move(read)) {}

  // False at the end (fault() tells a read error).
  bool Next(std::string& line) {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos && end < kMaxLine) return Take(end + 1, line);
      if (pending_.size() >= kMaxLine)
        return Take(WholeCharacters({pending_.data(), kMaxLine}), line);
      if (eof_) return pending_.empty() ? false : Take(pending_.size(), line);
      char buffer[4096];
      const long n = read_(buffer, sizeof buffer);
      if (n < 0) {
        fault_ = true;
        return false;
      }
      if (n == 0) eof_ = true;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }
  bool fault() const { return fault_; }

 private:
  bool Take(std::size_t n, std::string& line) {
    line.assign(pending_, 0, n);
    pending_.erase(0, n);
    return true;
  }

  std::function<long(char*, std::size_t)> read_;
  std::string pending_;
  bool eof_ = false;
  bool fault_ = false;
};

// Leading decimal digits; none give 0, and a number beyond 31 bits gives -1,
// which no control, menu item or string carries.
int LeadingNumber(std::string_view field) {
  long long value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return -1;
  }
  return static_cast<int>(value);
}

bool IsPlainNumber(std::string_view field, int value) {
  return value > 0 && field == std::to_string(value);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

enum class LineResult { kApplied, kEnd, kFailure };

LineResult ApplyLine(std::string_view line, const LanguageFileHandlers& h) {
  // The buffer is a C string: a NUL byte ends it.
  line = line.substr(0, line.find('\0'));
  std::string_view fields[6];
  int count = 0;
  std::size_t i = 0;
  while (count < 6) {
    i = line.find_first_not_of(";=", i);
    if (i == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(";=", i), line.size());
    fields[count++] = line.substr(i, end - i);
    i = end;
  }
  if (count < 2) return LineResult::kEnd;
  if (count < 6) return LineResult::kFailure;
  const std::string_view keyword = fields[1];
  const int id = LeadingNumber(fields[3]);
  std::string_view text = fields[5];
  if (text.starts_with('"'))
    text = text.size() < 3 ? std::string_view() : text.substr(1, text.size() - 3);
  const std::string valid = ValidUtf8(text);
  if (keyword == "MENUITEM") {
    if (h.menuText) h.menuText(id, valid);
    return LineResult::kApplied;
  }
  if (h.controlText) h.controlText(id, valid);
  if (EqualsIgnoringAsciiCase(keyword, "STRINGTABLE") && IsPlainNumber(fields[3], id) &&
      h.interfaceString)
    h.interfaceString(id, valid);
  return LineResult::kApplied;
}

bool Parse(LineReader& reader, const LanguageFileHandlers& handlers) {
  std::string line;
  while (reader.Next(line)) {
    switch (ApplyLine(line, handlers)) {
      case LineResult::kApplied:
        break;
      case LineResult::kEnd:
        return true;
      case LineResult::kFailure:
        return false;
    }
  }
  return !reader.fault();
}

}  // namespace

bool ParseLanguageText(std::string_view bytes, const LanguageFileHandlers& handlers) {
  LineReader reader([&bytes](char* out, std::size_t size) {
    const std::size_t n = std::min(size, bytes.size());
    std::copy_n(bytes.data(), n, out);
    bytes.remove_prefix(n);
    return static_cast<long>(n);
  });
  return Parse(reader, handlers);
}

bool ParseLanguageFile(const std::string& path, const LanguageFileHandlers& handlers) {
  // Non-blocking open: a FIFO under the file's name must not hang the
  // interface; it is refused as no regular file.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  LineReader reader([&fd](char* out, std::size_t size) -> long {
    for (;;) {
      const ssize_t n = ::read(fd.get(), out, size);
      if (n < 0 && errno == EINTR) continue;
      return static_cast<long>(n);
    }
  });
  return Parse(reader, handlers);
}

}  // namespace varnox
