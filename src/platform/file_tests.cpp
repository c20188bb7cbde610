#include "platform/file_tests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnox {
namespace {

bool OpensAsFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  const bool file = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return file;
}

}  // namespace

bool FileExists(const std::string& path) {
  return OpensAsFile(path, O_RDONLY);
}

bool FileWritable(const std::string& path) {
  return OpensAsFile(path, O_WRONLY);
}

}  // namespace varnox
