#include "storage/sms_log.h"

#include <cstdarg>
#include <cstdio>

#include "analysis/fixed_text.h"
#include "platform/trace.h"

namespace varnox {
std::string SmsLogCreateStatement() {
  return FormatSql(
      "CREATE TABLE %s (Id INT UNIQUE, Sender TEXT, Message TEXT, Tokens TEXT, ReceivedDate TEXT, "
      "ReceivedTime TEXT, Status INT);",
      kSmsLogTable);
}

std::string SmsLogIndexStatement() {
  return FormatSql("CREATE INDEX IF NOT EXISTS %sReceivedDate ON %s(ReceivedDate);", kSmsLogTable,
                   kSmsLogTable);
}

SmsLog::SmsLog(DataLocations& locations) : locations_(locations) {}

bool SmsLog::OpenLocked() {
  if (db_.IsOpen()) return true;
  std::string path, table;
  // Not found: nothing is opened, so no database is created anywhere.
  if (!locations_.ResolveSmsLogPath(path, table)) return false;
  return db_.OpenOrReport(path);
}

void SmsLog::CloseLocked() {
  db_.Close();
}

int SmsLog::ExecLocked(const std::string& sql) {
  if (!OpenLocked()) return 1;
  std::string error;
  const int rc = db_.Exec(sql, &error);
  if (rc == SQLITE_OK || rc == 1) return rc;
  std::fprintf(stderr, "SQL error: %s\n", error.c_str());
  // The next use resolves the path and opens the database anew.
  CloseLocked();
  return rc;
}

void SmsLog::ClearEntries() {
  for (int i = 0; i < entries_.count; ++i) entries_.entries[i] = SmsEntry{};
  entries_.count = 0;
}

bool SmsLog::OpenSmsLogDb() {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    return OpenLocked();
  } catch (...) {
    return false;
  }
}

void SmsLog::CloseSmsLogDb() {
  std::lock_guard<std::mutex> guard(mutex_);
  CloseLocked();
}

int SmsLog::SmsLogExec(const std::string& sql) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    return ExecLocked(sql);
  } catch (...) {
    return SQLITE_ERROR;
  }
}

int SmsLog::SmsLogMaxId() {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    if (!OpenLocked()) return -1;
    Statement stmt;
    const int rc = db_.Prepare(FormatSql("SELECT MAX(Id) as MaxOfId FROM %s;", kSmsLogTable), stmt);
    if (rc != SQLITE_OK) {
      if (rc != SQLITE_MISUSE) CloseLocked();
      return -1;
    }
    if (stmt.Step() == SQLITE_ROW && stmt.DataCount() == 1) return stmt.ColumnInt(0);
    return -1;
  } catch (...) {
    return -1;
  }
}

bool SmsLog::SmsLogSetStatus(int id, int status) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    if (!OpenLocked()) return false;
    return ExecLocked(FormatSql("UPDATE %s SET Status = %d WHERE Id = %d;", kSmsLogTable, status,
                                id)) == SQLITE_OK;
  } catch (...) {
    return false;
  }
}

bool SmsLog::SmsLogSetStatuses(std::span<const StatusChange> changes) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    if (!OpenLocked()) return false;
    std::string error;
    if (WriteStatuses(db_, kSmsLogTable, changes, error)) return true;
    std::fprintf(stderr, "SQL error: %s\n", error.c_str());
    // As after any failed statement: the next use opens the database anew.
    CloseLocked();
    return false;
  } catch (...) {
    return false;
  }
}

bool SmsLog::GetSmsVerdictFields(int id, std::string& sender, std::string& tokens) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    if (!OpenLocked()) return false;
    Statement stmt;
    if (db_.Prepare(FormatSql("SELECT Sender, Tokens FROM %s WHERE Id = %d;", kSmsLogTable, id),
                    stmt) != SQLITE_OK) {
      CloseLocked();
      return false;
    }
    if (stmt.Step() != SQLITE_ROW || stmt.DataCount() != 2) return false;
    sender = stmt.ColumnText(0);
    tokens = stmt.ColumnText(1);
    return true;
  } catch (...) {
    return false;
  }
}

bool SmsLog::LoadSmsLog(int n, int spam, int normal, std::string& dayText) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    dayText = locations_.DayText(n);
    ClearEntries();
    std::string day = dayText;
    SanitizeSqlText(day);
    const std::string sql = FormatSql(
        "SELECT Id, Sender, Message, ReceivedDate, ReceivedTime, Status FROM %s WHERE "
        "ReceivedDate = '%s';",
        kSmsLogTable, day.c_str());
    if (!OpenLocked()) return false;
    Statement stmt;
    if (db_.Prepare(sql, stmt) != SQLITE_OK) {
      CloseLocked();
      return false;
    }
    while (entries_.count < kMaxSmsEntries && stmt.Step() == SQLITE_ROW) {
      if (stmt.DataCount() != 6) continue;
      const int status = stmt.ColumnInt(5);
      if (!((spam != 0 && status == 1) || (normal != 0 && status == 0))) continue;
      SmsEntry& e = entries_.entries[entries_.count];
      e.id = stmt.ColumnInt(0);
      e.status = status;
      e.sender = stmt.ColumnText(1);
      e.message = stmt.ColumnText(2);
      CopyFixedText(e.time, stmt.ColumnText(4));
      ++entries_.count;
    }
    return true;
  } catch (...) {
    Trace("ERROR in LoadSmsLog");
    return false;
  }
}

int SmsLog::GetSmsEntryCount() {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_.count;
}

bool SmsLog::GetSmsEntry(int index, std::string& sender, std::string& message, std::string& time,
                         int& id, int* status) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (index < 0 || index >= entries_.count) return false;
  const SmsEntry& e = entries_.entries[index];
  sender = e.sender;
  message = e.message;
  time = e.time;
  id = e.id;
  if (status) *status = e.status;
  return true;
}

}  // namespace varnox
