#include "storage/sqlite_db.h"

#include <cstdarg>
#include <cstdio>

namespace varnox {

std::string FormatSql(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list sizing;
  va_copy(sizing, args);
  const int n = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  va_end(args);
  return out;
}

Database& Database::operator=(Database&& o) noexcept {
  if (this != &o) {
    Close();
    db_ = o.db_;
    o.db_ = nullptr;
  }
  return *this;
}

int Database::Open(const std::string& path, std::string& error) {
  Close();
  // SQLite takes an empty name as a private temporary database: a path that
  // could not be resolved must fail instead of quietly writing nowhere.
  if (path.empty()) {
    error = "no database path";
    return SQLITE_CANTOPEN;
  }
  const int rc = sqlite3_open(path.c_str(), &db_);
  if (rc != SQLITE_OK && rc != 1) {
    error = db_ ? sqlite3_errmsg(db_) : "out of memory";
    Close();
    return rc;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // WAL lets readers and one writer work side by side (the re-check writes a
  // log it is reading; the companion writes while the viewer reads). Closing
  // the last connection would checkpoint and sync every time: leave that to
  // SQLite's automatic checkpoints. NORMAL sync in WAL loses no committed
  // transaction when the process is killed.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
               nullptr);
  return rc;
}

bool Database::OpenOrReport(const std::string& path) {
  std::string error;
  const int rc = Open(path, error);
  if (rc == SQLITE_OK || rc == 1) return true;
  std::fprintf(stderr, "Can't open database: %s\n", error.c_str());
  return false;
}

void Database::Close() {
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

bool Database::TruncateWal() {
  if (db_ == nullptr) return false;
  sqlite3_busy_timeout(db_, 0);
  const int rc =
      sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  return rc == SQLITE_OK;
}

int Database::Exec(const std::string& sql, std::string* error) {
  if (db_ == nullptr) return SQLITE_MISUSE;
  char* msg = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg);
  if (error != nullptr) *error = msg ? msg : (rc != SQLITE_OK ? sqlite3_errmsg(db_) : "");
  sqlite3_free(msg);
  return rc;
}

int Database::Prepare(const std::string& sql, Statement& stmt) {
  if (db_ == nullptr) return SQLITE_MISUSE;
  return sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), stmt.out(), nullptr);
}

std::string Statement::ColumnText(int i) const {
  const unsigned char* t = sqlite3_column_text(stmt_, i);
  if (t == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(t),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
}

void Statement::Finalize() {
  if (stmt_ != nullptr) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

bool WriteStatuses(Database& db, const char* table, std::span<const StatusChange> changes,
                   std::string& error) {
  error.clear();
  if (changes.empty()) return true;
  Statement update;
  if (db.Prepare(FormatSql("UPDATE %s SET Status = ?1 WHERE Id = ?2;", table), update) !=
      SQLITE_OK) {
    error = db.ErrorMessage();
    return false;
  }
  const bool written = WriteTransaction(db, [&] {
    for (const StatusChange& change : changes) {
      update.BindInt(1, change.status);
      update.BindInt(2, change.id);
      const int rc = update.Step();
      if (rc != SQLITE_DONE) error = db.ErrorMessage();
      update.Reset();
      if (rc != SQLITE_DONE) return false;
    }
    return true;
  });
  if (!written && error.empty()) error = db.ErrorMessage();
  return written;
}

}  // namespace varnox
