#include "platform/file_tests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/unique_fd.h"

namespace varnox {
namespace {

bool OpensAsFile(const std::string& path, int flags) {
  const UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return false;
  struct stat st {};
  return ::fstat(fd.get(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

bool FileExists(const std::string& path) {
  return OpensAsFile(path, O_RDONLY);
}

bool FileWritable(const std::string& path) {
  return OpensAsFile(path, O_WRONLY);
}

}  // namespace varnox
