// ss.dat: response requests, one rule Id per line, appended by the SMS
// companion and taken by the automatic-response thread. Every writer and the
// taker hold an flock on ss.lock beside it, so a request appended while the
// file is being taken is never lost.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"
#include "storage/data_locations.h"

namespace varnox {
namespace {

class FileLock {
 public:
  explicit FileLock(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_) {
      while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return static_cast<bool>(fd_); }

 private:
  UniqueFd fd_;  // closing it releases the lock
};

// Decimal text to integer as atoi reads it, clamped instead of overflowing.
int ToInt(const char* s) {
  errno = 0;
  const long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Reads ids from the file in pieces of at most 255 characters, each ending
// after a line end; returns false when it cannot be opened.
bool ReadIds(const std::string& path, std::vector<int>& ids) {
  FilePtr f(std::fopen(path.c_str(), "r"));
  if (!f) return false;
  char line[256];
  while (std::fgets(line, sizeof line, f.get()) != nullptr) ids.push_back(ToInt(line));
  return true;
}

}  // namespace

bool DataLocations::TakeResponseRequests(std::vector<int>& ids) {
  ids.clear();
  const std::string folder = DataFolder();
  if (folder.empty()) return false;
  const std::string file = folder + "ss.dat";
  const std::string taken = folder + "ss.dat.taken";
  bool found = false;
  {
    FileLock lock(folder + "ss.lock");
    // A file taken by a run that died before reading it comes first.
    if (ReadIds(taken, ids)) {
      found = true;
      std::remove(taken.c_str());
    }
    if (::rename(file.c_str(), taken.c_str()) != 0) return found;
  }
  ReadIds(taken, ids);
  std::remove(taken.c_str());
  return true;
}

bool DataLocations::AppendResponseRequest(int id) {
  const std::string folder = DataFolder();
  if (folder.empty()) return false;
  FileLock lock(folder + "ss.lock");
  if (!lock.held()) return false;
  const UniqueFd fd(
      ::open((folder + "ss.dat").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) return false;
  char line[16];
  const int n = std::snprintf(line, sizeof line, "%d\n", id);
  return ::write(fd.get(), line, static_cast<std::size_t>(n)) == n;
}

}  // namespace varnox
