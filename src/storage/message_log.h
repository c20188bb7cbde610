// The message logs: one SQLite database per watched store (table Msg) that
// records every examined message once, by the fingerprint of its raw body,
// with its texts, tokens and verdict. Also the one day's list the viewer
// shows, and the row cursor with which the re-check walks every log.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "storage/data_locations.h"
#include "storage/sqlite_db.h"

namespace varnox {

constexpr int kMaxLogEntries = 256;
// Each checkpoint syncs the WAL and the database; at SQLite's default of
// 1,000 pages (some 120 messages) that costs a quarter of the adding rate.
// 16,000 pages keep the WAL under ~64 MB. Committed work is safe either way.
constexpr int kAutoCheckpointPages = 16000;
// Sizes of the record fields the callers keep (bytes of text, terminator not
// counted); longer texts are cut at a UTF-8 character boundary.
constexpr std::size_t kMaxSubject = 511;
constexpr std::size_t kMaxEntryTime = 31;
constexpr std::size_t kMaxRowAddress = 255;  // sender, address field, subject of a cursor row
constexpr std::size_t kMaxRowDateTime = 259;

// One row handed out by the cursor (MAPIGetNextMessage). An SMS row has no
// subject and no lower-case body; its address field repeats the sender.
struct LogRow {
  std::string sender, senderEmail, subject, rawBody, lowerBody, date, time, tokens;
  int status = 0;
  int id = 0;
};

// The fingerprint a log keys a message's text on (any thread may make it).
std::string BodyFingerprint(std::string_view body);

// "CREATE TABLE Msg (...)": the table every message log has.
std::string MsgCreateStatement();

// The address between the last angle brackets of a sender field ("Name
// <addr>" gives "addr"), else the whole field.
void ExtractAddress(std::string_view field, std::string& out);

class MessageLog {
  struct Connection;

 public:
  explicit MessageLog(DataLocations& locations);
  ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  // Creates <data folder><store>.db with its table when missing; the
  // store's largest Id (as MAPIMaxId).
  int MAPICreateLog(const std::string& store);
  // Largest Id; 0 for an empty table or a log that cannot be opened, -1 when
  // the statement fails.
  int MAPIMaxId(const std::string& store);
  // True when a row with the fingerprint of rawBody exists; then its Id,
  // Status and Tokens. tokens is emptied first. hash, when given, is the
  // BodyFingerprint of rawBody, made beforehand (here and below).
  bool MAPIExists(const std::string& store, std::string_view rawBody, int& id, int& status,
                  std::string& tokens, std::string_view hash = {});
  // Whether the store's log holds a message with this text. A log that
  // cannot be read answers false, untold: the MAPIExists that follows
  // tells it. For the scan's look ahead.
  bool MAPIHolds(const std::string& store, std::string_view rawBody, std::string_view hash = {});
  // Logs a message unless its fingerprint is logged already. True when it is
  // in the log afterwards; id is its row's Id (-1 on failure).
  bool MAPIAdd(const std::string& store, const std::string& sender, const std::string& senderEmail,
               const std::string& subject, std::string_view rawBody, std::string_view lowerBody,
               std::string_view plainText, const std::string& tokens, int status,
               const std::string& date, const std::string& time, int& id, bool* inserted = nullptr,
               std::string_view hash = {});
  // Writes a row's status. storeOrPath beginning with '/' is a database path.
  bool MAPIUpdate(const std::string& storeOrPath, int id, int status);
  // Writes many rows' statuses in one transaction (storeOrPath as for
  // MAPIUpdate): all of them, or none when it fails.
  bool UpdateStatuses(const std::string& storeOrPath, std::span<const StatusChange> changes);
  bool MAPIGetMessageBody(const std::string& store, int id, std::string& orgMessage,
                          std::string& subject, std::string& msgTxt);
  // The row's address field and Tokens: what its verdict is made from.
  bool MAPIGetVerdictFields(const std::string& store, int id, std::string& senderEmail,
                            std::string& tokens);
  // The Ids of the rows logged as spam (from the status index, without
  // reading the rows). False when the log cannot be read.
  bool LoggedSpamIds(const std::string& store, std::unordered_set<int>& ids);

  // Fills the entry table with the rows of the day n days back (at most 256),
  // spam and/or normal ones; dayText receives the day's text.
  bool LoadMAPI(const std::string& store, int n, int spam, int normal, std::string& dayText);
  int GetLogEntryCount() const;
  // address is ExtractAddress of the entry's address field; status, when
  // given, the entry's verdict. False only for an index outside the table.
  bool GetLogEntry(int index, std::string& address, std::string& subject, std::string& message,
                   std::string& time, int& id, int* status = nullptr) const;

  // The re-check's cursor: mode 0 opens it on path (with the take flags, the
  // day count, negative for all days, and the status flags), 2 delivers the
  // next row (false at the end, which closes it), 1 closes it.
  bool MAPIGetNextMessage(int mode, const std::string& path, int takeSms, int takeMms,
                          int takeOther, int dayCount, int spam, int normal, LogRow& row);
  // Why the cursor's last opening failed (SQLite's message), empty after one
  // that worked.
  std::string CursorError();

  // The logs (their paths) that could not be opened, queried or written at
  // some time during this run, in name order. A log that fails is said once
  // on standard error, with its store, path and SQLite's message, until it
  // works again.
  std::vector<std::string> FailedLogs() const;

  // Several writes to one store's log as one transaction: while a Batch
  // lives, its thread's adds and updates to that log go into it (each
  // undone alone when it fails), and other threads wait for the log. One
  // commit costs what one add did, which makes adding many rows several
  // times faster. Nothing is durable, or visible to other connections,
  // until Commit says so.
  class Batch {
   public:
    // Starts the transaction; when it cannot (the log is busy or broken),
    // the Batch is inactive and every write commits on its own as usual.
    Batch(MessageLog& log, const std::string& store);
    ~Batch();  // rolls back what was not committed
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    bool Active() const { return db_ != nullptr; }
    // Commits the writes so far, and with more starts the next transaction
    // (else the Batch ends). False when they are lost (a failed commit, or
    // an error that ended the transaction): then none of them may be taken
    // as done.
    bool Commit(bool more);

   private:
    void Begin();
    void End();  // gives the connection back, with its automatic checkpoints
    // Copies the WAL into the log on a thread of its own once it has grown:
    // the commits go on meanwhile, instead of waiting for the copy.
    void CheckpointAside();
    static int WalGrew(void* batch, sqlite3* db, const char* name, int pages);
    MessageLog& log_;
    std::string store_;
    std::shared_ptr<Connection> conn_;             // keeps the connection alive
    std::unique_lock<std::recursive_mutex> lock_;  // the connection, for the batch's life
    Database* db_ = nullptr;                       // null while inactive
    int walPages_ = 0;                             // frames in the WAL after the last commit
  };

 private:
  struct Connection {
    // guards db and its statements: one operation at a time (a Batch holds it
    // across its thread's operations)
    std::recursive_mutex mutex;
    Database db;
    // Declared after db: finalized before it closes.
    CachedStatement find, maxId, insert;
    std::string path;
    bool batchWrote = false;  // a write of the open batch succeeded
    // A batch's checkpoint under way on its own connection; declared last,
    // so it is joined before the connection goes.
    std::atomic<bool> checkpointing{false};
    std::jthread checkpointer;
  };
  // A log's connection, locked for the caller's operation; db is null when
  // the database could not be opened (error says why).
  struct Lease {
    std::shared_ptr<Connection> conn;
    std::unique_lock<std::recursive_mutex> lock;
    Database* db = nullptr;  // &conn->db once it is open
  };
  struct LogEntry {
    std::string senderEmail, message, subject, time;
    int id = 0;
    int status = 0;
  };

  bool LogPath(const std::string& store, std::string& path) const;
  void ReportFailure(const std::string& store, const std::string& path, const std::string& error);
  void ReportWorking(const std::string& path);
  // A write succeeded on conn: the log works again, once it is stored.
  void Worked(Connection& conn, const std::string& path);
  Lease Acquire(const std::string& path, std::string& error);
  Lease AcquireStore(const std::string& store, std::string& error);
  // Makes the log's table and indexes on db; false with SQLite's reason.
  static bool MakeReady(Database& db, std::string& error);
  bool OpenCursor(const std::string& path, int takeSms, int takeMms, int takeOther, int dayCount,
                  int spam, int normal);
  bool NextCursorRow(LogRow& row);
  void CloseCursor();

  DataLocations& locations_;

  std::mutex connectionsMutex_;  // guards connections_ (the map, not the connections)
  std::map<std::string, std::shared_ptr<Connection>> connections_;

  mutable std::mutex failuresMutex_;  // guards failing_, failed_ and unready_
  std::set<std::string> failing_;     // logs failing now, told once already
  std::set<std::string> failed_;      // every log that failed during the run
  std::set<std::string> unready_;     // logs whose table could not be made yet

  mutable std::mutex entriesMutex_;  // guards entries_: the viewer fills and reads it
  std::vector<LogEntry> entries_;

  std::mutex cursorMutex_;  // guards cursorDb_, cursor_ and cursorError_
  Database cursorDb_;
  Statement cursor_;
  std::string cursorError_;
};

}  // namespace varnox
