// One running copy per device root: an flock on <root>/.MainEvent, held for
// the life of the process. Two roots run side by side.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace varnox {

class SingleInstanceLock {
 public:
  explicit SingleInstanceLock(const std::string& deviceRoot);
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // True when this process holds the lock; false when another copy does (or
  // the lock file cannot be made: then error says why).
  bool held() const { return held_; }
  const std::string& error() const { return error_; }

 private:
  UniqueFd fd_;
  bool held_ = false;
  std::string error_;
};

}  // namespace varnox
