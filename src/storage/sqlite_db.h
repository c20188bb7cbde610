// RAII handles for SQLite connections and statements, opened the way every
// database of Varnox is: WAL journal, a busy timeout instead of failing at
// once on a locked file, and no checkpoint-and-sync at every close.
#pragma once

#include <sqlite3.h>

#include <span>
#include <string>
#include <string_view>

namespace varnox {

constexpr int kBusyTimeoutMs = 5000;

class Statement;

// A statement text made like printf: values are formatted into fixed texts
// (text values quoted by the caller after SanitizeSqlText).
__attribute__((format(printf, 1, 2))) std::string FormatSql(const char* format, ...);

class Database {
 public:
  Database() = default;
  ~Database() { Close(); }
  Database(Database&& o) noexcept : db_(o.db_) { o.db_ = nullptr; }
  Database& operator=(Database&& o) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens (creating) path. Returns SQLite's open result; 0 and 1 count as
  // success. On failure error receives SQLite's message.
  int Open(const std::string& path, std::string& error);
  // Open, writing "Can't open database: %s\n" to standard error on failure.
  bool OpenOrReport(const std::string& path);
  bool IsOpen() const { return db_ != nullptr; }
  void Close();

  // sqlite3_exec without a row handler; error receives the text of a failure.
  int Exec(const std::string& sql, std::string* error = nullptr);
  // Prepares sql into stmt; returns SQLite's result.
  int Prepare(const std::string& sql, Statement& stmt);
  // Copies the WAL into the database and empties it, without waiting for
  // other connections (it gives up when they hold it); false when it did not.
  // Every process that opens the database first replays the WAL, so a file
  // written seldom and opened often is best left without one.
  bool TruncateWal();
  std::string ErrorMessage() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement() = default;
  ~Statement() { Finalize(); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }

  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
  int DataCount() const { return stmt_ ? sqlite3_data_count(stmt_) : 0; }
  int ColumnInt(int i) const { return sqlite3_column_int(stmt_, i); }
  // Column text; NULL reads as the empty text.
  std::string ColumnText(int i) const;
  // Parameters (1-based); the text is copied, so it may go away at once.
  int BindText(int i, std::string_view text) {
    return sqlite3_bind_text64(stmt_, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  int BindInt(int i, sqlite3_int64 value) { return sqlite3_bind_int64(stmt_, i, value); }
  bool IsPrepared() const { return stmt_ != nullptr; }
  // Makes a prepared statement ready to run again, without parameters.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void Finalize();
  sqlite3_stmt** out() {
    Finalize();
    return &stmt_;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// A statement kept prepared for a connection's life: Use prepares it the
// first time, and the statement is reset when the Use ends, so no read stays
// open between operations.
class CachedStatement {
 public:
  class Use {
   public:
    explicit Use(Statement* stmt) : stmt_(stmt) {}
    ~Use() {
      if (stmt_) stmt_->Reset();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }
    Statement* operator->() const { return stmt_; }

   private:
    Statement* stmt_;
  };
  // Null (false) when the statement cannot be prepared on db.
  Use Get(Database& db, const char* sql) {
    if (!stmt_.IsPrepared() && db.Prepare(sql, stmt_) != SQLITE_OK) return Use(nullptr);
    return Use(&stmt_);
  }
  // Finalized, to be prepared again on the next Get (before its database closes).
  void Forget() { stmt_.Finalize(); }

 private:
  Statement stmt_;
};

namespace detail {
// fn between begin and commit; undo when fn fails or throws, unless an error
// has ended the transaction already (a COMMIT that failed on a full disk has
// rolled back: another ROLLBACK would only replace SQLite's reason, which the
// caller reports, with "no transaction is active").
template <typename Fn>
bool RunWrite(Database& db, Fn& fn, const char* begin, const char* commit, const char* undo) {
  if (db.Exec(begin) != SQLITE_OK) return false;
  bool ok = false;
  try {
    ok = fn();
  } catch (...) {
    db.Exec(undo);
    throw;
  }
  if (ok && db.Exec(commit) == SQLITE_OK) return true;
  if (sqlite3_get_autocommit(db.get()) == 0) db.Exec(undo);
  return false;
}
}  // namespace detail

// Runs fn inside BEGIN IMMEDIATE ... COMMIT (ROLLBACK when fn returns false or
// a statement fails). Returns whether the transaction committed. Inside a
// transaction the caller holds open (a batch of writes), fn runs in a
// savepoint instead: undone alone when it fails, committed with the batch.
template <typename Fn>
bool WriteTransaction(Database& db, Fn fn) {
  if (sqlite3_get_autocommit(db.get()) == 0)
    return detail::RunWrite(db, fn, "SAVEPOINT one_write;", "RELEASE one_write;",
                            "ROLLBACK TO one_write; RELEASE one_write;");
  return detail::RunWrite(db, fn, "BEGIN IMMEDIATE;", "COMMIT;", "ROLLBACK;");
}

// One row's new verdict.
struct StatusChange {
  int id = 0;
  int status = 0;
};

// Writes the Status of every row named in changes into table with one
// prepared UPDATE, in one BEGIN IMMEDIATE transaction: all of them or, on any
// failure (rolled back), none. error receives SQLite's message of a failure.
bool WriteStatuses(Database& db, const char* table, std::span<const StatusChange> changes,
                   std::string& error);

}  // namespace varnox
