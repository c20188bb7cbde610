// The SMS log database (Spam_0.db, table Spam) as the program sees it: the
// companion library inserts the rows; the program lists one day's SMS and
// changes verdicts.
#pragma once

#include <array>
#include <mutex>
#include <span>
#include <string>

#include "storage/data_locations.h"
#include "storage/sqlite_db.h"

namespace varnox {

constexpr int kMaxSmsEntries = 256;

// The statement that creates the Spam table, and the index that makes the
// day selection cheap on a large log (InitStorage runs both).
std::string SmsLogCreateStatement();
std::string SmsLogIndexStatement();

// One listed SMS.
struct SmsEntry {
  std::string sender;
  std::string message;
  char time[32] = {};  // ReceivedTime, cut to 31 bytes
  int id = 0;
  int status = 0;
};

// The SMS of the day last loaded, as the viewer lists them.
struct SmsEntryTable {
  std::array<SmsEntry, kMaxSmsEntries> entries;
  int count = 0;
};

class SmsLog {
 public:
  explicit SmsLog(DataLocations& locations);
  SmsLog(const SmsLog&) = delete;
  SmsLog& operator=(const SmsLog&) = delete;

  // True when the connection is open (already, or now). The first opening
  // fixes the data folder.
  bool OpenSmsLogDb();
  void CloseSmsLogDb();
  // 0 on success, else SQLite's result (1 when nothing could be opened). A
  // failure above 1 closes the connection, so the next use opens it afresh.
  int SmsLogExec(const std::string& sql);
  // Largest Id (0 for none), -1 on failure.
  int SmsLogMaxId();
  // True when the update ran (also when no row has that Id).
  bool SmsLogSetStatus(int id, int status);
  // Writes many rows' statuses in one transaction: all of them, or none when
  // it fails.
  bool SmsLogSetStatuses(std::span<const StatusChange> changes);
  // The sender and Tokens of the row with this Id: what its verdict is made
  // from. False when there is no such row or it cannot be read.
  bool GetSmsVerdictFields(int id, std::string& sender, std::string& tokens);
  // Lists the SMS of the day n days back: status 1 with spam set, status 0
  // with normal set, at most kMaxSmsEntries. dayText receives the day's text.
  bool LoadSmsLog(int n, int spam, int normal, std::string& dayText);
  int GetSmsEntryCount();
  // Copies of the listed entry (status, when given, its verdict); false only
  // for an index out of range.
  bool GetSmsEntry(int index, std::string& sender, std::string& message, std::string& time, int& id,
                   int* status = nullptr);

 private:
  // These run with mutex_ held.
  bool OpenLocked();
  void CloseLocked();
  int ExecLocked(const std::string& sql);
  void ClearEntries();

  DataLocations& locations_;
  std::mutex mutex_;  // guards: db_ (the connection and whether it is open) and entries_
  Database db_;
  SmsEntryTable entries_;
};

}  // namespace varnox
