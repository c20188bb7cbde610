// One message of an inbox: read it, look it up in the store's log, check it
// against the rules, log the verdict and move spam into the store's .Spam.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/rules.h"
#include "mailstore/extract.h"
#include "platform/maildir.h"
#include "storage/classify.h"
#include "storage/message_log.h"

namespace varnox {

constexpr std::size_t kMaxStoreName = 259;

// One watched store.
struct StoreRecord {
  StoreRecord(std::string storeName, std::string path) : name(storeName), store(storeName, path) {}
  std::string name;  // display name, also the base name of its log
  MailStore store;
  int messageCount = 0;  // inbox rows at the end of the last check
  int changed = 0;       // the last check saw the count change, or a row failed
  bool hasSpamFolder = false;
  // Fingerprints of the row keys seen in this inbox (the scan's cache), each
  // with the last walk that met it, so keys of rows gone can be dropped.
  std::unordered_map<std::string, unsigned> knownRows;
  unsigned walk = 0;
  // The last contents table, kept so a listing of an unchanged inbox costs
  // no allocation.
  std::vector<MailRow> rows;
  // The fingerprint of each row's key by file name, with the delivery time it
  // was made for: the key's columns do not change while those two stay.
  struct RowKey {
    std::time_t deliveryTime;
    std::string fingerprint;
  };
  std::unordered_map<std::string, RowKey> rowKeys;
  // Rows found normal when last handed over, by "subfolder/name": the file as
  // it was then, its log row and the rules generation it was classified
  // under. While the file and the rules stay, handing it over changes nothing.
  struct Memo {
    std::time_t deliveryTime;
    long deliveryNanos;
    std::int64_t size;
    std::uint64_t inode;
    int logId;
    unsigned generation;
    bool SameFile(const MailRow& row) const {
      return deliveryTime == row.deliveryTime && deliveryNanos == row.deliveryNanos &&
             size == row.size && inode == row.inode;
    }
  };
  std::unordered_map<std::string, Memo> memo;
  bool gone = false;  // its folder was gone at the last look (said once)
};

// The fields of one examined message.
struct MessageRecord {
  std::string sender;       // at most 255 bytes
  std::string senderEmail;  // at most 255 bytes
  std::string subject;      // at most 127 bytes
  std::string mimeText;     // canonical CR LF, cut at its first NUL
  std::string lowered;
  std::string text;
  std::string tokens;
  std::string receivedDate;
  std::string receivedTime;
  std::string fingerprint;  // the log's key of mimeText, once read (empty: not made)
};

// Sender, address, subject, date and time of a row, cut to their fields.
void ReadMessageHeader(const MailRow& row, MessageRecord& m);

// Header fields of a message's own bytes (canonical CR LF), as a row would
// carry them: for messages that are not in a store (the check command).
void ReadHeaderFromText(const std::string& mimeText, MessageRecord& m);

// What handling a row did, for the one-shot scan's report.
struct ProcessOutcome {
  bool logged = false;  // a new log row was written
  bool moved = false;   // the message went to .Spam
  bool failed = false;  // its row could not be logged or updated: try again
  // The message's log row says normal, and the rules (of this generation)
  // found it normal: handing it over again changes nothing while both hold.
  bool normal = false;
  int logId = 0;
  unsigned generation = 0;
  // Spam whose move waits for its log row's commit (filing deferred).
  bool toFile = false;
};

// A row's message as read from its file, and, once extracted, its text.
struct RowText {
  MessageRecord m;
  std::string error;       // why the file could not be read
  bool read = false;       // the file was read
  bool fault = false;      // reading threw: the row counts as not handled
  bool extracted = false;  // m.lowered, m.text and m.tokens are filled
};

class MessageProcessor {
 public:
  // pause takes the short rest of the text extraction (the scan's gate).
  MessageProcessor(MessageLog& log, RuleTable& rules, ExtractPause pause)
      : log_(log), rules_(rules), pause_(std::move(pause)) {}

  // 1 when the row was handled, 0 after a fault. ReadRow, then FinishRow.
  int ProcessMessage(StoreRecord& store, const MailRow& row, ProcessOutcome* outcome = nullptr);
  // The first half: reads the row's file. Touches neither log nor rules.
  void ReadRow(StoreRecord& store, const MailRow& row, RowText& read);
  // Lower-cases and extracts a read row's text. Touches neither log nor
  // rules, nor the processor: any thread may do it.
  static void Extract(RowText& read, const ExtractPause& pause);
  // The second half: looks the row up in the log, then checks, logs and
  // files it; extracts its text here unless that was done already.
  int FinishRow(StoreRecord& store, const MailRow& row, RowText& read, ProcessOutcome* outcome);
  // Checks, logs and files one message; returns whether it was moved.
  bool ClassifyAndLog(bool isNew, int loggedStatus, StoreRecord& store, const MailRow& row,
                      const MessageRecord& m, ProcessOutcome* outcome);
  bool MoveToSpamFolder(StoreRecord& store, const MailRow& row);
  // With deferred filing, spam is not moved but marked toFile in the
  // outcome: the caller moves it once the log rows are committed.
  void DeferFiling(bool on) { deferFiling_ = on; }

 private:
  MessageLog& log_;
  RuleTable& rules_;
  ExtractPause pause_;
  bool deferFiling_ = false;

  // Moves the row to .Spam now or marks it in out; true when either is done.
  bool File(StoreRecord& store, const MailRow& row, ProcessOutcome& out);
};

}  // namespace varnox
