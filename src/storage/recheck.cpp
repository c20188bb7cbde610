#include "storage/recheck.h"

#include <cstdio>
#include <mutex>
#include <string_view>

#include "storage/classify.h"

namespace varnox {

namespace {

// Changed verdicts are written this many to a transaction. One transaction
// a row cost several times the classifying; a batch this size holds the
// write lock some tens of milliseconds at most, so the scan and the SMS
// companion, which write the same databases, hardly wait for it.
constexpr std::size_t kWriteBatch = 1000;

}  // namespace

std::optional<unsigned> RecheckLogs(DataLocations& locations, MessageLog& log, SmsLog& smsLog,
                                    RuleStore& rules, RuleTable& table,
                                    std::vector<RecheckCount>* counts,
                                    const std::function<bool()>& stop) {
  rules.LoadRules();
  unsigned generation = 0;
  {
    std::lock_guard<std::shared_mutex> guard(table.lock);  // guards loaded and generation
    if (!table.loaded) {
      std::fprintf(stderr,
                   "varnox: the logged messages are not checked again: no rules could be "
                   "loaded yet\n");
      return std::nullopt;
    }
    generation = table.generation;
  }
  std::string path;
  bool stopped = false;
  locations.EnumLogDatabases(0, path);
  while (!stopped && locations.EnumLogDatabases(1, path)) {
    LogRow row;
    // The rules database has no log table; any other database that opens no
    // cursor is a log that cannot be read, and is named.
    if (!log.MAPIGetNextMessage(0, path, 1, 1, 1, -1, 1, 1, row)) {
      const bool rules = std::string_view(path).ends_with(kRulesFile);
      if (!rules && counts) counts->push_back(RecheckCount{path, 0, 0, 0, log.CursorError()});
      continue;
    }
    const bool sms = IsSmsLogPath(path);
    RecheckCount count{path, 0, 0, 0, {}};
    std::vector<StatusChange> pending;
    const auto write = [&] {
      if (pending.empty()) return;
      const bool written =
          sms ? smsLog.SmsLogSetStatuses(pending) : log.UpdateStatuses(path, pending);
      (written ? count.changed : count.failed) += static_cast<int>(pending.size());
      pending.clear();
    };
    while (log.MAPIGetNextMessage(2, path, 1, 1, 1, -1, 1, 1, row)) {
      if (stop && stop()) {
        stopped = true;
        break;
      }
      ++count.checked;
      const int verdict = Classify(table, row.senderEmail, row.tokens);
      if (verdict == row.status) continue;
      pending.push_back({row.id, verdict});
      if (pending.size() == kWriteBatch) write();
    }
    log.MAPIGetNextMessage(1, path, 1, 1, 1, -1, 1, 1, row);
    // Also when stopped: the rows checked so far keep their new verdicts.
    write();
    if (counts) counts->push_back(count);
  }
  locations.EnumLogDatabases(2, path);
  if (stopped) return std::nullopt;
  return generation;
}

}  // namespace varnox
