#include "rulehook/spool_watcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/fingerprint.h"
#include "analysis/tokenizer.h"
#include "platform/clock.h"
#include "platform/sms_incoming.h"
#include "platform/trace.h"
#include "platform/unique_fd.h"
#include "storage/classify.h"

namespace varnox::rulehook {
namespace {

enum class ReadResult { kRead, kGone, kFailed };

// The whole file, if it is a regular file of at most kMaxSpoolFile bytes.
ReadResult ReadSpoolFile(const std::string& path, std::string& bytes, std::string& error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT) return ReadResult::kGone;
    error = std::strerror(errno);
    return ReadResult::kFailed;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return ReadResult::kFailed;
  }
  bytes.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return ReadResult::kFailed;
    }
    if (static_cast<std::int64_t>(bytes.size()) + n > kMaxSpoolFile) {
      error = "larger than 8 MiB";
      return ReadResult::kFailed;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  return ReadResult::kRead;
}

// Renames from into folder under its own name, or name.1, name.2, ... when
// that is taken: a file already there is never replaced.
bool RenameKeeping(const std::string& from, const std::string& folder, const std::string& name,
                   std::string& error) {
  ::mkdir(folder.c_str(), 0775);
  for (int n = 0; n < 1000; ++n) {
    const std::string to = folder + "/" + (n == 0 ? name : name + "." + std::to_string(n));
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return true;
    if (errno == EEXIST) continue;
    if (errno == EINVAL) {  // a file system without RENAME_NOREPLACE
      struct stat st {};
      if (::lstat(to.c_str(), &st) == 0) continue;
      if (::rename(from.c_str(), to.c_str()) == 0) return true;
    }
    error = std::strerror(errno);
    return false;
  }
  error = "too many files named " + name;
  return false;
}

}  // namespace

SpoolWatcher::SpoolWatcher(const std::string& dataFolder, std::string spoolFolder,
                           const Clock& clock)
    : clock_(clock),
      spool_(std::move(spoolFolder)),
      locations_("", clock),
      rules_(locations_, table_),
      log_(dataFolder.empty() || dataFolder.back() == '/' ? dataFolder : dataFolder + "/") {
  locations_.UseDataFolder(dataFolder);
}

void SpoolWatcher::Report(const std::string& name, const std::string& text) {
  if (!reported_.insert(name).second) return;  // once per file, not every second
  std::fprintf(stderr, "varnox rulehook: %s\n", text.c_str());
}

void SpoolWatcher::ReloadRulesIfSignalled(LookReport& report) {
  const std::int64_t stamp = RulesSignalStamp(locations_.DataFolder());
  if (stamp == rulesStamp_) return;
  // A load that failed (the database busy or broken) is tried again at the
  // next look.
  if (!rules_.LoadRules()) return;
  rulesStamp_ = stamp;
  report.rulesLoaded = true;
}

std::vector<SpoolWatcher::Candidate> SpoolWatcher::CompleteFiles(LookReport& report) {
  std::vector<Candidate> complete;
  std::map<std::string, Seen> now;
  const std::string incoming = spool_ + "/incoming";
  DirPtr dir(::opendir(incoming.c_str()));
  if (!dir) {
    const int error = errno;
    seen_.clear();
    // Once, not every second: a spool removed or not yet made by smsd is no
    // reason to stop, and its files are taken when it is there again.
    if (!incomingUnreadable_)
      std::fprintf(stderr,
                   "varnox rulehook: cannot read the SMS spool folder %s: %s; received SMS are "
                   "handled once it is there again\n",
                   incoming.c_str(), std::strerror(error));
    incomingUnreadable_ = true;
    return complete;
  }
  if (incomingUnreadable_)
    std::fprintf(stderr, "varnox rulehook: the SMS spool folder %s is there again\n",
                 incoming.c_str());
  incomingUnreadable_ = false;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    // Hidden names are work files of whoever writes the spool.
    if (name.empty() || name[0] == '.') continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;
    const Seen current{static_cast<std::int64_t>(st.st_size), Nanoseconds(st.st_mtim)};
    const auto before = seen_.find(name);
    const bool unchanged = before != seen_.end() && before->second.size == current.size &&
                           before->second.mtime == current.mtime;
    const auto rest = resting_.find(name);
    if (unchanged && rest != resting_.end() && --rest->second > 0) {
      ++report.resting;
    } else if (unchanged) {
      complete.push_back({name, current.mtime});
    } else {
      ++report.waiting;
    }
    now.emplace(name, current);
  }
  seen_ = std::move(now);
  std::erase_if(reported_, [&](const std::string& name) { return !seen_.contains(name); });
  std::erase_if(resting_, [&](const auto& entry) { return !seen_.contains(entry.first); });
  std::sort(complete.begin(), complete.end(), [](const Candidate& a, const Candidate& b) {
    return a.mtime != b.mtime ? a.mtime < b.mtime : a.name < b.name;
  });
  return complete;
}

bool SpoolWatcher::MoveTo(const std::string& name, const char* folder) {
  std::string error;
  const std::string from = spool_ + "/incoming/" + name;
  if (RenameKeeping(from, spool_ + "/" + folder, name, error)) {
    seen_.erase(name);
    reported_.erase(name);
    resting_.erase(name);
    return true;
  }
  resting_[name] = kRestingLooks;
  Report(name, "cannot move " + from + " to " + spool_ + "/" + folder + ": " + error);
  return false;
}

void SpoolWatcher::Handle(const std::string& name, LookReport& report) {
  const std::string path = spool_ + "/incoming/" + name;
  std::string bytes, error;
  const ReadResult read = ReadSpoolFile(path, bytes, error);
  if (read == ReadResult::kGone) {
    seen_.erase(name);
    return;
  }
  IncomingSms sms;
  if (read == ReadResult::kFailed || !ParseIncomingSms(bytes, sms, error)) {
    if (MoveTo(name, kRejectedFolder)) {
      ++report.rejected;
      std::fprintf(stderr, "varnox rulehook: %s is no received SMS (%s); moved to %s/%s/\n",
                   path.c_str(), error.c_str(), spool_.c_str(), kRejectedFolder);
    } else {
      ++report.waiting;
    }
    return;
  }
  if (sms.statusReport) {  // a delivery report: nothing to log or answer
    if (MoveTo(name, kHandledFolder))
      ++report.moved;
    else
      ++report.waiting;
    return;
  }

  SmsRow row;
  row.sender = sms.sender;
  row.message = sms.text;
  row.tokens = BuildTokenString(sms.text);
  const std::tm when = sms.hasReceived ? sms.received : LocalTime(clock_.Now());
  row.receivedDate = LongDateText(when);
  row.receivedTime = TimeText(when);
  RuleMatch match;
  row.status = Classify(table_, row.sender, row.tokens, &match);
  if (TraceEnabled()) {
    Trace("SMS " + name + " from " + row.sender + ": " + (row.status ? "spam" : "normal"));
  }

  int id = 0;
  switch (log_.Log(row, name, Fingerprint(bytes), id, error)) {
    case LogOutcome::kFailed:
      Report(name, "cannot log " + path + ": " + error + "; trying again");
      ++report.waiting;
      return;
    case LogOutcome::kAlreadyLogged:
      break;  // logged before a crash: only the move is left
    case LogOutcome::kLogged:
      ++report.logged;
      if (row.status == 1) {
        ++report.spam;
        // The program decides from the rule whether and what to answer.
        if (!locations_.AppendResponseRequest(match.id))
          std::fprintf(stderr, "varnox rulehook: cannot write a response request to %sss.dat\n",
                       locations_.DataFolder().c_str());
      }
      break;
  }
  if (MoveTo(name, kHandledFolder))
    ++report.moved;
  else
    ++report.waiting;
}

LookReport SpoolWatcher::Look() {
  LookReport report;
  try {
    ReloadRulesIfSignalled(report);
    // Without rules read once, every SMS would be logged as normal for good:
    // the files wait for a look at which the rules can be read.
    if (!rules_.RulesLoaded()) return report;
    for (const Candidate& c : CompleteFiles(report)) Handle(c.name, report);
  } catch (const std::exception& e) {
    // Out of memory and the like: the files stay, the next look tries again.
    std::fprintf(stderr, "varnox rulehook: %s\n", e.what());
  }
  return report;
}

void SpoolWatcher::Run(PauseGate& gate) {
  gate.WorkerStarted();
  do {
    Look();
  } while (gate.Sleep(std::chrono::milliseconds(1000)));
  gate.WorkerEnded();
}

}  // namespace varnox::rulehook
