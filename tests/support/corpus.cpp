#include "support/corpus.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  bytes = ss.str();
  return !in.bad();
}

}  // namespace varnox::testsupport
