#include "rulehook/sms_log_writer.h"

#include "platform/file_tests.h"
#include "storage/data_locations.h"

namespace varnox::rulehook {

SmsLogWriter::SmsLogWriter(std::string dataFolder) : path_(std::move(dataFolder) + kSmsLogFile) {}

bool SmsLogWriter::Open(std::string& error) {
  if (db_.IsOpen()) return true;
  // The program creates the log; one made here would hold no Spam table and
  // lie where the program does not look.
  if (!FileExists(path_)) {
    error = "no SMS log at " + path_;
    return false;
  }
  if (db_.Open(path_, error) > 1) return false;
  const int rc =
      db_.Exec(FormatSql("CREATE TABLE IF NOT EXISTS %s (Name TEXT, Digest TEXT, Id INT, "
                         "UNIQUE (Name, Digest));",
                         kSpoolFilesTable),
               &error);
  if (rc != SQLITE_OK) {
    db_.Close();
    return false;
  }
  return true;
}

bool SmsLogWriter::Logged(const std::string& fileName, const std::string& digest, bool& logged) {
  Statement stmt;
  if (db_.Prepare(FormatSql("SELECT Id FROM %s WHERE Name = ?1 AND Digest = ?2;", kSpoolFilesTable),
                  stmt) != SQLITE_OK)
    return false;
  stmt.BindText(1, fileName);
  stmt.BindText(2, digest);
  const int rc = stmt.Step();
  logged = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool SmsLogWriter::Insert(const SmsRow& row, const std::string& fileName, const std::string& digest,
                          int& id) {
  Statement max;
  if (db_.Prepare(FormatSql("SELECT MAX(Id) FROM %s;", kSmsLogTable), max) != SQLITE_OK ||
      max.Step() != SQLITE_ROW)
    return false;
  id = max.ColumnInt(0) + 1;
  Statement insert;
  if (db_.Prepare(FormatSql("INSERT INTO %s (Id, Sender, Message, Tokens, ReceivedDate, "
                            "ReceivedTime, Status) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7);",
                            kSmsLogTable),
                  insert) != SQLITE_OK)
    return false;
  insert.BindInt(1, id);
  insert.BindText(2, row.sender);
  insert.BindText(3, row.message);
  insert.BindText(4, row.tokens);
  insert.BindText(5, row.receivedDate);
  insert.BindText(6, row.receivedTime);
  insert.BindInt(7, row.status);
  if (insert.Step() != SQLITE_DONE) return false;
  Statement file;
  if (db_.Prepare(
          FormatSql("INSERT INTO %s (Name, Digest, Id) VALUES (?1, ?2, ?3);", kSpoolFilesTable),
          file) != SQLITE_OK)
    return false;
  file.BindText(1, fileName);
  file.BindText(2, digest);
  file.BindInt(3, id);
  return file.Step() == SQLITE_DONE;
}

LogOutcome SmsLogWriter::Log(const SmsRow& row, const std::string& fileName,
                             const std::string& digest, int& id, std::string& error) {
  if (!Open(error)) return LogOutcome::kFailed;
  bool already = false;
  error.clear();
  const bool committed = WriteTransaction(db_, [&] {
    if (Logged(fileName, digest, already) && (already || Insert(row, fileName, digest, id)))
      return true;
    error = db_.ErrorMessage();  // before the rollback replaces it
    return false;
  });
  if (committed) return already ? LogOutcome::kAlreadyLogged : LogOutcome::kLogged;
  if (error.empty()) error = db_.ErrorMessage();
  // A broken or replaced file is opened afresh on the next try.
  db_.Close();
  return LogOutcome::kFailed;
}

}  // namespace varnox::rulehook
