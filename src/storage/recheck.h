// The re-check of logged messages, engine side: every row of every log
// database of the data folder classified again under the rules in force,
// and each verdict that changed written back.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/rules.h"
#include "storage/data_locations.h"
#include "storage/message_log.h"
#include "storage/rule_store.h"
#include "storage/sms_log.h"

namespace varnox {

// What the re-check did to one log database.
struct RecheckCount {
  std::string path;
  int checked = 0;    // rows classified again
  int changed = 0;    // rows whose verdict was written anew
  int failed = 0;     // changed verdicts that could not be written
  std::string error;  // why the log could not be read at all
};

// Loads the rules, then classifies every row (its logged address field and
// tokens) and writes the changed verdicts, many to a transaction; a failed
// write leaves its rows as they were. Returns the rules generation the rows
// were classified under, or nothing, said on standard error, while no rules
// were ever loaded: a re-check with no rules would reset every logged spam
// to normal. counts, when given, receives one entry per log database walked.
// stop, when given, is asked between rows: true ends the walk there, with
// nothing (the verdicts changed up to there are still written).
std::optional<unsigned> RecheckLogs(DataLocations& locations, MessageLog& log, SmsLog& smsLog,
                                    RuleStore& rules, RuleTable& table,
                                    std::vector<RecheckCount>* counts = nullptr,
                                    const std::function<bool()>& stop = {});

}  // namespace varnox
