#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnox {

SingleInstanceLock::SingleInstanceLock(const std::string& deviceRoot) {
  const std::string path = deviceRoot + "/.MainEvent";
  fd_ = UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd_) {
    error_ = path + ": " + std::strerror(errno);
    return;
  }
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
  } else if (errno != EWOULDBLOCK) {
    error_ = path + ": " + std::strerror(errno);
  }
}

// Closing the descriptor releases the lock.
SingleInstanceLock::~SingleInstanceLock() = default;

}  // namespace varnox
