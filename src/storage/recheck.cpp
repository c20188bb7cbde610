#include "storage/recheck.h"

#include <cstdio>
#include <mutex>

#include "storage/classify.h"

namespace varnox {

std::optional<unsigned> RecheckLogs(DataLocations& locations, MessageLog& log, SmsLog& smsLog,
                                    RuleStore& rules, RuleTable& table) {
  rules.LoadRules();
  unsigned generation = 0;
  {
    std::lock_guard<std::mutex> guard(table.lock);  // guards loaded and generation
    if (!table.loaded) {
      std::fprintf(stderr,
                   "varnox: the logged messages are not checked again: no rules could be "
                   "loaded yet\n");
      return std::nullopt;
    }
    generation = table.generation;
  }
  std::string path;
  locations.EnumLogDatabases(0, path);
  while (locations.EnumLogDatabases(1, path)) {
    LogRow row;
    // Databases without a log table (the rules) do not open a cursor.
    if (!log.MAPIGetNextMessage(0, path, 1, 1, 1, -1, 1, 1, row)) continue;
    const bool sms = IsSmsLogPath(path);
    while (log.MAPIGetNextMessage(2, path, 1, 1, 1, -1, 1, 1, row)) {
      const int verdict = Classify(table, row.senderEmail, row.tokens);
      if (verdict == row.status) continue;
      if (sms)
        smsLog.SmsLogSetStatus(row.id, verdict);
      else
        log.MAPIUpdate(path, row.id, verdict);
    }
    log.MAPIGetNextMessage(1, path, 1, 1, 1, -1, 1, 1, row);
  }
  locations.EnumLogDatabases(2, path);
  return generation;
}

}  // namespace varnox
