#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnox {

SingleInstanceLock::SingleInstanceLock(const std::string& deviceRoot) {
  const std::string path = deviceRoot + "/.MainEvent";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = path + ": " + std::strerror(errno);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
  } else if (errno != EWOULDBLOCK) {
    error_ = path + ": " + std::strerror(errno);
  }
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

}  // namespace varnox
