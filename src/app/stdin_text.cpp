#include "app/stdin_text.h"

#include <cerrno>
#include <cstring>

#include "platform/ascii_text.h"

namespace varnox {

bool ReadAll(std::FILE* in, std::string& text, std::string& error) {
  text.clear();
  char buf[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buf, 1, sizeof buf, in);
    text.append(buf, n);
    if (n < sizeof buf) {
      if (std::ferror(in)) {
        error = std::strerror(errno);
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
  CutAtNul(text);
  return true;
}

bool WriteStdout(const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

}  // namespace varnox
