// The companion's side of the SMS log: one row per received SMS in the Spam
// table of Spam_0.db, and beside it the spool files already logged, written
// in the same transaction, so a file met again after a crash is never logged
// twice.
#pragma once

#include <string>

#include "storage/sqlite_db.h"

namespace varnox::rulehook {

// The table of logged spool files (in Spam_0.db).
constexpr char kSpoolFilesTable[] = "SpoolFiles";

// One row of the Spam table.
struct SmsRow {
  std::string sender;
  std::string message;
  std::string tokens;
  std::string receivedDate;  // long-date text
  std::string receivedTime;
  int status = 0;
};

enum class LogOutcome {
  kLogged,         // the row is written
  kAlreadyLogged,  // this file was logged before; nothing written
  kFailed,         // nothing written; error says why
};

class SmsLogWriter {
 public:
  // dataFolder ends with '/'. Nothing is opened before the first Log.
  explicit SmsLogWriter(std::string dataFolder);

  // Logs row for the spool file name whose bytes have this digest (a later
  // file under the same name is another SMS). id receives the row's Id.
  LogOutcome Log(const SmsRow& row, const std::string& fileName, const std::string& digest, int& id,
                 std::string& error);

 private:
  bool Open(std::string& error);
  bool Logged(const std::string& fileName, const std::string& digest, bool& logged);
  bool Insert(const SmsRow& row, const std::string& fileName, const std::string& digest, int& id);

  std::string path_;
  Database db_;  // kept open once opened; closed again after a failure
};

}  // namespace varnox::rulehook
