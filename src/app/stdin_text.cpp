#include "app/stdin_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/ascii_text.h"

namespace varnox {
namespace {

std::string TooLarge() {
  return "more than " + std::to_string(kMaxInputBytes) + " bytes (" +
         std::to_string(kMaxInputBytes >> 20) + " MiB), the most a command reads";
}

}  // namespace

bool ReadAll(std::FILE* in, std::string& text, std::string& error) {
  text.clear();
  // A file says its size: one too large is refused before a byte is read.
  struct stat st {};
  if (::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode)) {
    if (static_cast<std::size_t>(st.st_size) > kMaxInputBytes) {
      error = TooLarge();
      return false;
    }
    // With room for the CRs of typical line lengths: mail text gets them.
    const auto size = static_cast<std::size_t>(st.st_size);
    text.reserve(size + size / 32 + 64);
  }
  char buf[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, in);
    const void* nul = std::memchr(buf, '\0', n);
    const std::size_t take =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buf) : n;
    if (text.size() + take > kMaxInputBytes) {
      text = std::string();
      error = TooLarge();
      return false;
    }
    text.append(buf, take);
    if (nul) return true;  // the rest is not read at all: it may never end
    if (n < sizeof buf) {
      if (std::ferror(in)) {
        error = std::strerror(errno);
        text = std::string();
        return false;
      }
      return true;
    }
  }
}

bool ReadStdinText(std::string& text) {
  std::string error;
  if (!ReadAll(stdin, text, error)) {
    std::fprintf(stderr, "varnox: cannot read standard input: %s\n", error.c_str());
    return false;
  }
  return true;
}

bool WriteStdout(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

}  // namespace varnox
