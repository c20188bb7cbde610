#include "storage/message_log.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "analysis/fingerprint.h"
#include "analysis/fixed_text.h"
#include "platform/ascii_text.h"
#include "platform/trace.h"

namespace varnox {

namespace {

constexpr char kNoDataFolder[] = "data folder not found";

// Look-ups by fingerprint, the day list and the spam rows select on columns
// that lie behind the large texts: without these every query reads every
// row's overflow pages.
constexpr char kIndexStatements[] =
    "CREATE INDEX IF NOT EXISTS MsgHashIndex ON Msg(Hash);"
    "CREATE INDEX IF NOT EXISTS MsgReceivedDateIndex ON Msg(ReceivedDate);"
    "CREATE INDEX IF NOT EXISTS MsgStatusIndex ON Msg(Status, Id);";

// A text as the log stores it: up to its first NUL, apostrophes turned into
// blanks (the only quoting texts get, which stored rows reflect). scratch
// holds the copy when one is needed.
std::string_view Unquoted(std::string_view text, std::string& scratch) {
  text = UpToNul(text);
  if (text.find('\'') == std::string_view::npos) return text;
  scratch.assign(text);
  SanitizeSqlText(scratch);
  return scratch;
}

// What the user does about a log SQLite does not read as a database: the
// program cannot mend it, and only the scan's own file name brings a new one.
const char* Remedy(std::string_view error) {
  const bool damaged = error.find("not a database") != std::string_view::npos ||
                       error.find("malformed") != std::string_view::npos;
  return damaged ? "; move it away, and the next scan logs the messages of the store's inbox anew"
                 : "";
}

}  // namespace

std::string BodyFingerprint(std::string_view body) {
  return Fingerprint(body);
}

namespace {

void TraceLine(std::string_view line) {
  Trace(line);
  Trace("\r\n");
}

int MaxIdOn(Database& db, CachedStatement& cache) {
  const auto st = cache.Get(db, "SELECT MAX(Id) as MaxOfId FROM Msg;");
  if (!st) return -1;
  if (st->Step() == SQLITE_ROW && st->DataCount() == 1) return st->ColumnInt(0);
  return -1;
}

// The row with fingerprint hash, if any. A log that cannot be queried gives
// false with SQLite's message in error.
bool FindOn(Database& db, CachedStatement& cache, const std::string& hash, int& id, int& status,
            std::string& tokens, std::string& error) {
  const auto st = cache.Get(db, "SELECT Id, Status, Tokens FROM Msg WHERE Hash = ?1;");
  if (!st) {
    Trace("MAPIExists Error 3");
    error = db.ErrorMessage();
    return false;
  }
  st->BindText(1, hash);
  if (st->Step() != SQLITE_ROW || st->DataCount() != 3) return false;
  id = st->ColumnInt(0);
  status = st->ColumnInt(1);
  tokens = st->ColumnText(2);
  return true;
}

}  // namespace

std::string MsgCreateStatement() {
  return "CREATE TABLE Msg (Id INT UNIQUE, Sender TEXT, SenderEMAIL TEXT, Subject TEXT, "
         "OrgMessage TEXT, Message TEXT, MsgTxt TEXT, Tokens TEXT, ReceivedDate TEXT, "
         "ReceivedTime TEXT, Status INT, Hash TEXT);";
}

void ExtractAddress(std::string_view field, std::string& out) {
  const std::size_t close = field.rfind('>');
  if (close == std::string_view::npos || close == 0) {
    out = field;
    return;
  }
  const std::size_t open = field.rfind('<', close - 1);
  const std::size_t begin = open == std::string_view::npos ? 0 : open + 1;
  out = field.substr(begin, close - begin);
}

MessageLog::MessageLog(DataLocations& locations) : locations_(locations) {}

MessageLog::~MessageLog() = default;

void MessageLog::ReportFailure(const std::string& store, const std::string& path,
                               const std::string& error) {
  std::lock_guard<std::mutex> guard(failuresMutex_);
  const std::string& key = path.empty() ? store : path;
  failed_.insert(key);
  // Once until the log works again: a broken log would otherwise be told for
  // every message of every pass. Never the message itself: it is private.
  if (!failing_.insert(key).second) return;
  std::fprintf(stderr, "varnox: the message log of the store %s (%s) cannot be used: %s%s\n",
               store.c_str(), path.empty() ? kNoDataFolder : path.c_str(), error.c_str(),
               Remedy(error));
}

void MessageLog::Worked(Connection& conn, const std::string& path) {
  // Inside a batch a write is stored only once the batch commits: until then
  // a failing log is not working again.
  if (sqlite3_get_autocommit(conn.db.get()) == 0) {
    conn.batchWrote = true;
    return;
  }
  ReportWorking(path);
}

void MessageLog::ReportWorking(const std::string& path) {
  std::lock_guard<std::mutex> guard(failuresMutex_);
  failing_.erase(path);
}

std::vector<std::string> MessageLog::FailedLogs() const {
  std::lock_guard<std::mutex> guard(failuresMutex_);
  return {failed_.begin(), failed_.end()};
}

bool MessageLog::LogPath(const std::string& store, std::string& path) const {
  const std::string folder = locations_.DataFolder();
  // Without a data folder the path would be relative: a log in whatever the
  // current directory happens to be.
  if (folder.empty()) return false;
  path = folder + store + ".db";
  return true;
}

MessageLog::Lease MessageLog::Acquire(const std::string& path, std::string& error) {
  std::shared_ptr<Connection> conn;
  {
    std::lock_guard<std::mutex> guard(connectionsMutex_);
    auto& slot = connections_[path];
    if (!slot) {
      slot = std::make_shared<Connection>();
      slot->path = path;
    }
    conn = slot;
  }
  Lease lease{conn, std::unique_lock<std::recursive_mutex>(conn->mutex), nullptr};
  // SQLite opens a log it cannot write read-only, and it stays so: open it
  // anew each time, so that it works once its folder can be written again.
  if (conn->db.IsOpen() && sqlite3_db_readonly(conn->db.get(), "main") == 1) {
    conn->find.Forget();
    conn->maxId.Forget();
    conn->insert.Forget();
    conn->db.Close();
  }
  if (!conn->db.IsOpen()) {
    const int rc = conn->db.Open(path, error);
    if (rc != SQLITE_OK && rc != 1) return lease;
    sqlite3_wal_autocheckpoint(conn->db.get(), kAutoCheckpointPages);
  }
  lease.db = &conn->db;
  return lease;
}

MessageLog::Batch::Batch(MessageLog& log, const std::string& store) : log_(log), store_(store) {
  std::string error;
  Lease lease = log_.AcquireStore(store_, error);
  if (lease.db == nullptr) return;
  conn_ = lease.conn;
  lock_ = std::move(lease.lock);
  db_ = lease.db;
  // In place of the automatic checkpoints, which would copy the WAL inside
  // a commit.
  sqlite3_wal_hook(db_->get(), &Batch::WalGrew, this);
  Begin();
}

MessageLog::Batch::~Batch() {
  if (db_ != nullptr && sqlite3_get_autocommit(db_->get()) == 0) db_->Exec("ROLLBACK;");
  End();
}

int MessageLog::Batch::WalGrew(void* batch, sqlite3*, const char*, int pages) {
  static_cast<Batch*>(batch)->walPages_ = pages;
  return SQLITE_OK;
}

void MessageLog::Batch::Begin() {
  // Failing here (the log busy elsewhere) leaves the writes on their own:
  // each then waits, fails and is reported as it would without a batch.
  // It does not wait for the lock either: the writes wait, one by one, as
  // they always did, and each says when it gives up.
  sqlite3_busy_timeout(db_->get(), 0);
  const bool begun = db_->Exec("BEGIN IMMEDIATE;") == SQLITE_OK;
  sqlite3_busy_timeout(db_->get(), kBusyTimeoutMs);
  conn_->batchWrote = false;
  if (!begun) End();
}

void MessageLog::Batch::End() {
  if (db_ == nullptr) return;
  sqlite3_wal_autocheckpoint(db_->get(), kAutoCheckpointPages);
  db_ = nullptr;
  lock_.unlock();
}

void MessageLog::Batch::CheckpointAside() {
  if (walPages_ < kAutoCheckpointPages) return;
  if (walPages_ >= 2 * kAutoCheckpointPages) {
    // The copies aside do not catch up with the commits, so the WAL cannot
    // start over: copy it all here, once, and keep its file small.
    db_->Exec("PRAGMA wal_checkpoint(RESTART);");
    walPages_ = 0;
    return;
  }
  if (conn_->checkpointing) return;
  if (conn_->checkpointer.joinable()) conn_->checkpointer.join();
  conn_->checkpointing = true;
  conn_->checkpointer = std::jthread([conn = conn_.get()] {
    Database db;
    std::string error;
    const int rc = db.Open(conn->path, error);
    if (rc == SQLITE_OK || rc == 1)
      sqlite3_wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    conn->checkpointing = false;
  });
}

bool MessageLog::Batch::Commit(bool more) {
  if (db_ == nullptr) return true;
  // An error that ended the transaction took the earlier writes with it;
  // writes after it committed on their own, but the batch cannot tell which.
  const bool open = sqlite3_get_autocommit(db_->get()) == 0;
  std::string error;
  const bool committed = open && db_->Exec("COMMIT;", &error) == SQLITE_OK;
  if (!committed && open) {
    if (sqlite3_get_autocommit(db_->get()) == 0) db_->Exec("ROLLBACK;");
    std::string path;
    log_.LogPath(store_, path);
    log_.ReportFailure(store_, path, error);
  }
  if (committed && conn_->batchWrote) {
    std::string path;
    log_.LogPath(store_, path);
    log_.ReportWorking(path);
  }
  if (committed) CheckpointAside();
  if (more) {
    Begin();
  } else {
    End();
  }
  return committed;
}

MessageLog::Lease MessageLog::AcquireStore(const std::string& store, std::string& error) {
  std::string path;
  if (!LogPath(store, path)) {
    error = kNoDataFolder;
    return {};
  }
  Lease lease = Acquire(path, error);
  bool unready = false;
  {
    std::lock_guard<std::mutex> guard(failuresMutex_);
    unready = unready_.count(path) > 0;
  }
  // A log that could not be made when its store was found (a read-only or
  // full data folder) is made at its next use, once that works.
  if (lease.db != nullptr && unready) {
    std::string why;
    if (MakeReady(*lease.db, why)) {
      std::lock_guard<std::mutex> guard(failuresMutex_);
      unready_.erase(path);
    }
  }
  return lease;
}

bool MessageLog::MakeReady(Database& db, std::string& error) {
  // A log that has its table and indexes needs no write: one that another
  // process holds is ready without waiting for its lock.
  Statement st;
  if (db.Prepare("SELECT count(*) FROM sqlite_master WHERE name IN ('Msg', 'MsgHashIndex', "
                 "'MsgReceivedDateIndex', 'MsgStatusIndex');",
                 st) == SQLITE_OK &&
      st.Step() == SQLITE_ROW && st.ColumnInt(0) == 4)
    return true;
  // Result 1 is the table that exists already, which is no failure.
  const int created = db.Exec(MsgCreateStatement(), &error);
  if (created == 1) error.clear();
  const bool ready = (created == SQLITE_OK || created == 1) && WriteTransaction(db, [&] {
                       return db.Exec(kIndexStatements, &error) == SQLITE_OK;
                     });
  if (!ready && error.empty()) error = db.ErrorMessage();
  return ready;
}

int MessageLog::MAPICreateLog(const std::string& store) {
  try {
    std::string path, error;
    if (!LogPath(store, path)) {
      ReportFailure(store, path, kNoDataFolder);
    } else {
      Lease lease = Acquire(path, error);
      const bool ready = lease.db != nullptr && MakeReady(*lease.db, error);
      {
        std::lock_guard<std::mutex> guard(failuresMutex_);
        if (ready) {
          unready_.erase(path);
        } else {
          unready_.insert(path);
        }
      }
      if (!ready) ReportFailure(store, path, error);
    }
  } catch (const std::exception&) {
    return 0;
  }
  // The largest Id, or -1 for a log whose statement fails.
  return MAPIMaxId(store);
}

int MessageLog::MAPIMaxId(const std::string& store) {
  try {
    std::string error, path;
    LogPath(store, path);
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) {
      ReportFailure(store, path, error);
      return 0;
    }
    return MaxIdOn(*lease.db, lease.conn->maxId);
  } catch (const std::exception&) {
    return -1;
  }
}

bool MessageLog::MAPIExists(const std::string& store, std::string_view rawBody, int& id,
                            int& status, std::string& tokens, std::string_view knownHash) {
  try {
    tokens.clear();
    const std::string hash =
        knownHash.empty() ? BodyFingerprint(UpToNul(rawBody)) : std::string(knownHash);
    std::string error, path;
    LogPath(store, path);
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) {
      Trace("MAPIExists Error 2");
      ReportFailure(store, path, error);
      return false;
    }
    const bool found = FindOn(*lease.db, lease.conn->find, hash, id, status, tokens, error);
    // A log that is read but cannot be written (a full disk, a read-only
    // folder) is not working again: only a write says so, or its failure
    // would be told anew for every message.
    if (!error.empty()) ReportFailure(store, path, error);
    return found;
  } catch (const std::exception&) {
    Trace("MAPIExists Error 1");
    return false;
  }
}

bool MessageLog::MAPIHolds(const std::string& store, std::string_view rawBody,
                           std::string_view knownHash) {
  try {
    std::string error, tokens;
    int id = 0, status = 0;
    Lease lease = AcquireStore(store, error);
    return lease.db != nullptr &&
           FindOn(*lease.db, lease.conn->find,
                  knownHash.empty() ? BodyFingerprint(UpToNul(rawBody)) : std::string(knownHash),
                  id, status, tokens, error);
  } catch (const std::exception&) {
    return false;
  }
}

bool MessageLog::MAPIAdd(const std::string& store, const std::string& sender,
                         const std::string& senderEmail, const std::string& subject,
                         std::string_view rawBody, std::string_view lowerBody,
                         std::string_view plainText, const std::string& tokens, int status,
                         const std::string& date, const std::string& time, int& id, bool* inserted,
                         std::string_view knownHash) {
  id = -1;
  if (inserted) *inserted = false;
  try {
    const std::string_view body = UpToNul(rawBody);
    const std::string hash = knownHash.empty() ? BodyFingerprint(body) : std::string(knownHash);
    std::string error, path;
    LogPath(store, path);
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) {
      TraceLine("ERROR in MAPIAdd : 1");
      ReportFailure(store, path, error);
      return false;
    }
    Database& db = *lease.db;
    // Look-up, largest Id and insert in one writing transaction: another
    // writer can neither log the same message nor take the same Id between.
    bool found = false;
    int foundId = -1;
    int newId = -1;
    const bool committed = WriteTransaction(db, [&] {
      int foundStatus = 0;
      std::string foundTokens;
      found = FindOn(db, lease.conn->find, hash, foundId, foundStatus, foundTokens, error);
      if (found) return true;
      if (!error.empty()) return false;
      newId = MaxIdOn(db, lease.conn->maxId) + 1;
      const auto insert = lease.conn->insert.Get(
          db,
          "INSERT INTO Msg (Id, Sender, SenderEMAIL, Subject, OrgMessage, Message, MsgTxt, "
          "Tokens, ReceivedDate, ReceivedTime, Status, Hash) VALUES "
          "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12);");
      if (!insert) return false;
      const std::string_view subjectText = UpToNul(subject);
      insert->BindInt(1, newId);
      int column = 2;
      std::string scratch;
      for (std::string_view text :
           {std::string_view(sender), std::string_view(senderEmail),
            subjectText.substr(0, Utf8PrefixLength(subjectText, kMaxSubject)), body, lowerBody,
            plainText, std::string_view(tokens)})
        insert->BindText(column++, Unquoted(text, scratch));
      // Date and time are the program's own formatter texts, used as given.
      insert->BindText(9, UpToNul(date));
      insert->BindText(10, UpToNul(time));
      insert->BindInt(11, status);
      insert->BindText(12, hash);
      if (insert->Step() == SQLITE_DONE) return true;
      error = db.ErrorMessage();  // before the rollback replaces it
      return false;
    });
    if (!committed) {
      TraceLine("ERROR in MAPIAdd : 2");
      if (error.empty()) error = db.ErrorMessage();
      ReportFailure(store, path, error);
      return false;
    }
    Worked(*lease.conn, path);
    if (found) {
      id = foundId;
      TraceLine("MAPIExists : 1");
      return true;
    }
    id = newId;
    if (inserted) *inserted = true;
    TraceLine("Added Message to db.");
    if (TraceEnabled()) Trace(senderEmail + "\n" + subject + "\n");
    return true;
  } catch (const std::exception&) {
    id = -1;
    return false;
  }
}

bool MessageLog::MAPIUpdate(const std::string& storeOrPath, int id, int status) {
  const StatusChange change{id, status};
  return UpdateStatuses(storeOrPath, std::span(&change, 1));
}

bool MessageLog::UpdateStatuses(const std::string& storeOrPath,
                                std::span<const StatusChange> changes) {
  try {
    std::string error;
    const bool byPath = !storeOrPath.empty() && storeOrPath.front() == '/';
    std::string path = byPath ? storeOrPath : std::string();
    if (!byPath) LogPath(storeOrPath, path);
    // The store is the file's name when only the path is known.
    const std::string store =
        byPath ? path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 4) : storeOrPath;
    Lease lease = byPath ? Acquire(storeOrPath, error) : AcquireStore(storeOrPath, error);
    if (lease.db == nullptr) {
      TraceLine("ERROR in MAPIUpdate: 1");
      ReportFailure(store, path, error);
      return false;
    }
    if (!WriteStatuses(*lease.db, "Msg", changes, error)) {
      TraceLine("ERROR in MAPIUpdate : 2");
      ReportFailure(store, path, error);
      return false;
    }
    Worked(*lease.conn, path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool MessageLog::MAPIGetMessageBody(const std::string& store, int id, std::string& orgMessage,
                                    std::string& subject, std::string& msgTxt) {
  try {
    std::string error;
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) return false;
    Statement st;
    if (lease.db->Prepare(
            "SELECT OrgMessage, Subject, MsgTxt FROM Msg WHERE Id = " + std::to_string(id) + ";",
            st) != SQLITE_OK)
      return false;
    if (st.Step() != SQLITE_ROW || st.DataCount() != 3) return false;
    orgMessage = st.ColumnText(0);
    subject = st.ColumnText(1);
    msgTxt = st.ColumnText(2);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool MessageLog::MAPIGetVerdictFields(const std::string& store, int id, std::string& senderEmail,
                                      std::string& tokens) {
  try {
    std::string error;
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) return false;
    Statement st;
    if (lease.db->Prepare(
            "SELECT SenderEMAIL, Tokens FROM Msg WHERE Id = " + std::to_string(id) + ";", st) !=
        SQLITE_OK)
      return false;
    if (st.Step() != SQLITE_ROW || st.DataCount() != 2) return false;
    senderEmail = st.ColumnText(0);
    tokens = st.ColumnText(1);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool MessageLog::LoggedSpamIds(const std::string& store, std::unordered_set<int>& ids) {
  ids.clear();
  try {
    std::string error;
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) return false;
    Statement st;
    if (lease.db->Prepare("SELECT Id FROM Msg WHERE Status = 1;", st) != SQLITE_OK) return false;
    int rc = SQLITE_ROW;
    while ((rc = st.Step()) == SQLITE_ROW) ids.insert(st.ColumnInt(0));
    return rc == SQLITE_DONE;
  } catch (const std::exception&) {
    return false;
  }
}

bool MessageLog::LoadMAPI(const std::string& store, int n, int spam, int normal,
                          std::string& dayText) {
  try {
    {
      std::lock_guard<std::mutex> guard(entriesMutex_);
      entries_.clear();
    }
    dayText = locations_.DayText(n);
    std::string error;
    Lease lease = AcquireStore(store, error);
    if (lease.db == nullptr) {
      TraceLine("ERROR in LoadMAPI : 1");
      return false;
    }
    Statement st;
    if (lease.db->Prepare("SELECT Id, SenderEMAIL, Subject, Message, ReceivedDate, ReceivedTime, "
                          "Status FROM Msg WHERE ReceivedDate = '" +
                              dayText + "';",
                          st) != SQLITE_OK)
      return false;
    std::vector<LogEntry> loaded;
    while (loaded.size() < static_cast<std::size_t>(kMaxLogEntries) && st.Step() == SQLITE_ROW) {
      if (st.DataCount() != 7) continue;
      const int rowStatus = st.ColumnInt(6);
      if (!((spam != 0 && rowStatus == 1) || (normal != 0 && rowStatus == 0))) continue;
      LogEntry entry;
      entry.id = st.ColumnInt(0);
      entry.senderEmail = st.ColumnText(1);
      entry.subject = st.ColumnText(2);
      entry.message = st.ColumnText(3);
      entry.time = Utf8Prefix(st.ColumnText(5), kMaxEntryTime);
      entry.status = rowStatus;
      loaded.push_back(std::move(entry));
    }
    std::lock_guard<std::mutex> guard(entriesMutex_);
    entries_ = std::move(loaded);
    return true;
  } catch (const std::exception&) {
    TraceLine("ERROR in LoadMAPI : 2");
    return false;
  }
}

int MessageLog::GetLogEntryCount() const {
  std::lock_guard<std::mutex> guard(entriesMutex_);
  return static_cast<int>(entries_.size());
}

bool MessageLog::GetLogEntry(int index, std::string& address, std::string& subject,
                             std::string& message, std::string& time, int& id, int* status) const {
  std::lock_guard<std::mutex> guard(entriesMutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return false;
  const LogEntry& entry = entries_[static_cast<std::size_t>(index)];
  ExtractAddress(entry.senderEmail, address);
  subject = entry.subject;
  message = entry.message;
  time = entry.time;
  id = entry.id;
  if (status) *status = entry.status;
  return true;
}

bool MessageLog::MAPIGetNextMessage(int mode, const std::string& path, int takeSms, int takeMms,
                                    int takeOther, int dayCount, int spam, int normal,
                                    LogRow& row) {
  std::lock_guard<std::mutex> guard(cursorMutex_);
  row.rawBody.clear();
  row.lowerBody.clear();
  row.tokens.clear();
  try {
    switch (mode) {
      case 0:
        return OpenCursor(path, takeSms, takeMms, takeOther, dayCount, spam, normal);
      case 1:
        CloseCursor();
        return true;
      case 2:
        return NextCursorRow(row);
      default:
        return false;
    }
  } catch (const std::exception&) {
    CloseCursor();
    return false;
  }
}

bool MessageLog::OpenCursor(const std::string& path, int takeSms, int takeMms, int takeOther,
                            int dayCount, int spam, int normal) {
  CloseCursor();
  cursorError_.clear();
  if (const int rc = cursorDb_.Open(path, cursorError_); rc != SQLITE_OK && rc != 1) {
    TraceLine("ERROR in MAPIGetNextMessage : 1");
    return false;
  }
  const char* prefix = nullptr;
  if (spam != 0 && normal != 0)
    prefix = " WHERE ";
  else if (spam != 0)
    prefix = " WHERE Status = 1 AND ";
  else if (normal != 0)
    prefix = " WHERE Status = 0 AND ";
  if (prefix == nullptr) {
    CloseCursor();
    return false;
  }
  std::string condition;
  if (dayCount >= 0)
    condition = std::string(prefix) + " ReceivedDate = '" + locations_.DayText(dayCount) + "'";

  std::string sql;
  if (IsSmsLogPath(path)) {
    if (takeSms != 0)
      sql = "SELECT Sender, Message, ReceivedDate, ReceivedTime, Tokens, Status, Id FROM Spam " +
            condition + ";";
  } else if (path.find("MMS.db") != std::string::npos ? takeMms != 0 : takeOther != 0) {
    sql =
        "SELECT Sender, SenderEMAIL, Subject, OrgMessage, Message, ReceivedDate, ReceivedTime, "
        "Tokens, Status, Id FROM Msg " +
        condition + ";";
  }
  if (sql.empty() || cursorDb_.Prepare(sql, cursor_) != SQLITE_OK) {
    if (!sql.empty()) cursorError_ = cursorDb_.ErrorMessage();
    CloseCursor();
    return false;
  }
  return true;
}

bool MessageLog::NextCursorRow(LogRow& row) {
  if (!cursor_.IsPrepared()) return false;
  if (cursor_.Step() == SQLITE_ROW) {
    const int width = cursor_.DataCount();
    if (width == 7) {  // SMS log
      row.sender = Utf8Prefix(cursor_.ColumnText(0), kMaxRowAddress);
      // Sender rules hold telephone numbers and test the address field: an
      // SMS's number is its address.
      row.senderEmail = row.sender;
      row.subject.clear();
      row.rawBody = cursor_.ColumnText(1);
      row.date = Utf8Prefix(cursor_.ColumnText(2), kMaxRowDateTime);
      row.time = Utf8Prefix(cursor_.ColumnText(3), kMaxRowDateTime);
      row.tokens = cursor_.ColumnText(4);
      row.status = cursor_.ColumnInt(5);
      row.id = cursor_.ColumnInt(6);
      return true;
    }
    if (width == 10) {  // message log
      row.sender = Utf8Prefix(cursor_.ColumnText(0), kMaxRowAddress);
      row.senderEmail = Utf8Prefix(cursor_.ColumnText(1), kMaxRowAddress);
      row.subject = Utf8Prefix(cursor_.ColumnText(2), kMaxRowAddress);
      row.rawBody = cursor_.ColumnText(3);
      row.lowerBody = cursor_.ColumnText(4);
      row.date = Utf8Prefix(cursor_.ColumnText(5), kMaxRowDateTime);
      row.time = Utf8Prefix(cursor_.ColumnText(6), kMaxRowDateTime);
      row.tokens = cursor_.ColumnText(7);
      row.status = cursor_.ColumnInt(8);
      row.id = cursor_.ColumnInt(9);
      return true;
    }
  }
  CloseCursor();
  return false;
}

std::string MessageLog::CursorError() {
  std::lock_guard<std::mutex> guard(cursorMutex_);  // guards cursorError_
  return cursorError_;
}

void MessageLog::CloseCursor() {
  cursor_.Finalize();
  cursorDb_.Close();
}

}  // namespace varnox
