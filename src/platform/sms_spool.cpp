#include "platform/sms_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/unique_fd.h"

namespace varnox {
namespace {

bool WriteAllFd(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string SpoolNumber(const std::string& recipient) {
  std::string digits;
  const std::size_t n = std::min(recipient.size(), kMaxRecipient);
  for (std::size_t i = 0; i < n; ++i)
    if (recipient[i] >= '0' && recipient[i] <= '9') digits.push_back(recipient[i]);
  return digits;
}

bool WriteSpoolMessage(const std::string& spoolDir, const std::string& recipient,
                       const std::string& text, bool report, std::string& error) {
  const std::string number = SpoolNumber(recipient);
  if (number.empty()) {
    error = "the recipient has no digits";
    return false;
  }
  const std::string outgoing = spoolDir + "/outgoing";
  struct stat st {};
  if (::stat(outgoing.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::access(outgoing.c_str(), W_OK) != 0) {
    error = outgoing + ": not a writable folder";
    return false;
  }
  // The private folder lies in the spool, so the rename stays on one file system.
  const std::string staging = spoolDir + "/.varnox";
  ::mkdir(staging.c_str(), 0700);
  std::string temp = staging + "/varnox.XXXXXX";
  UniqueFd fd(::mkstemp(temp.data()));
  if (!fd) {
    error = staging + ": " + std::strerror(errno);
    return false;
  }
  const std::string content =
      "To: " + number + "\nReport: " + (report ? "yes" : "no") + "\nAlphabet: UTF-8\n\n" + text;
  const bool written =
      ::fchmod(fd.get(), 0644) == 0 && WriteAllFd(fd.get(), content) && ::fsync(fd.get()) == 0;
  fd = UniqueFd();
  if (!written) {
    error = temp + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  // A unique name in outgoing/: link fails rather than replace another message.
  const std::string base = temp.substr(temp.rfind('/') + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string target =
        outgoing + "/" + base + (attempt ? "." + std::to_string(attempt) : std::string());
    if (::link(temp.c_str(), target.c_str()) == 0) {
      ::unlink(temp.c_str());
      return true;
    }
    if (errno == EEXIST) continue;
    // A file system without hard links: rename onto a name that is free.
    if ((errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) &&
        ::access(target.c_str(), F_OK) != 0 && ::rename(temp.c_str(), target.c_str()) == 0)
      return true;
    break;
  }
  error = outgoing + ": " + std::strerror(errno);
  ::unlink(temp.c_str());
  return false;
}

}  // namespace varnox
