#include "support/corpus.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace varnox::testsupport {

namespace fs = std::filesystem;

std::string CorpusDir() {
  if (const char* env = std::getenv("VARNOX_CORPUS"); env != nullptr && *env != '\0') return env;
  return VARNOX_CORPUS_DIR;
}

std::vector<std::string> CorpusFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::path root = CorpusDir();
  if (!folder.empty()) root /= folder;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && it->path().extension() == ".txt") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i++]);
    const int n = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : -1;
    if (n < 0 || s.size() - i < static_cast<std::size_t>(n)) return false;
    std::uint32_t cp = b & (0x7F >> n);
    for (int k = 0; k < n; ++k, ++i) {
      if ((s[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i] & 0x3F);
    }
    if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) ||
        (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
  }
  return true;
}

}  // namespace varnox::testsupport
