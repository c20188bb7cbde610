// The companion's watcher of the smstools3 spool: every received SMS is
// classified against the rules, logged in the SMS log, answered through a
// response request when a rule matched, and moved out of incoming/.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/rules.h"
#include "platform/clock.h"
#include "platform/pause_gate.h"
#include "rulehook/sms_log_writer.h"
#include "storage/data_locations.h"
#include "storage/rule_store.h"

namespace varnox::rulehook {

// Folders beside incoming/ that smstools3 does not use: handled files (and
// delivery reports), and files that are no received message.
constexpr char kHandledFolder[] = "varnox-handled";
constexpr char kRejectedFolder[] = "varnox-rejected";
// A received SMS is a few kilobytes; anything this large is not one.
constexpr std::int64_t kMaxSpoolFile = 8 * 1024 * 1024;

// A file that could not be moved out of incoming/ (a spool the user may
// not write) waits this many looks, about a minute, before the next try.
constexpr int kRestingLooks = 60;

// What one look at the spool did.
struct LookReport {
  bool rulesLoaded = false;
  int logged = 0;    // new rows
  int spam = 0;      // of them, matched by a rule
  int moved = 0;     // files moved to the handled folder (reports included)
  int rejected = 0;  // files moved to the rejected folder
  int waiting = 0;   // files left for a later look (new, growing, or failing)
  int resting = 0;   // files not moved lately, left alone until their next try
};

class SpoolWatcher {
 public:
  // dataFolder holds Spam_0.db, Rules_0.db and the signal files.
  SpoolWatcher(const std::string& dataFolder, std::string spoolFolder,
               const Clock& clock = DefaultClock());
  SpoolWatcher(const SpoolWatcher&) = delete;
  SpoolWatcher& operator=(const SpoolWatcher&) = delete;

  // One look: reloads the rules when rs.dat changed (and the first time),
  // then handles every file of incoming/ that did not change since the
  // previous look, oldest first.
  LookReport Look();
  // Looks every second until the gate stops.
  void Run(PauseGate& gate);

 private:
  struct Seen {
    std::int64_t size = -1;
    std::int64_t mtime = -1;
  };
  struct Candidate {
    std::string name;
    std::int64_t mtime;
  };
  void ReloadRulesIfSignalled(LookReport& report);
  std::vector<Candidate> CompleteFiles(LookReport& report);
  void Handle(const std::string& name, LookReport& report);
  bool MoveTo(const std::string& name, const char* folder);
  void Report(const std::string& name, const std::string& text);

  const Clock& clock_;
  std::string spool_;
  DataLocations locations_;
  RuleTable table_;  // this companion's copy of the rules
  RuleStore rules_;
  SmsLogWriter log_;
  std::int64_t rulesStamp_ =
      std::numeric_limits<std::int64_t>::min();  // never a real stamp: the first look loads
  std::map<std::string, Seen> seen_;             // incoming/ at the previous look
  std::set<std::string> reported_;               // files whose trouble was told once
  std::map<std::string, int> resting_;           // files not moved: looks left before the next try
  bool incomingUnreadable_ = false;              // told once until incoming/ can be read again
};

}  // namespace varnox::rulehook
