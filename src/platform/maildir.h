// Maildir++ as the message store: a store is an entry of the mail folder, its
// inbox is the Maildir root (new/ and cur/), and spam goes to the subfolder
// .Spam, which IMAP servers show as INBOX.Spam.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnox {

// One message file of an inbox: a row of the inbox's contents table.
struct MailRow {
  std::string entryId;           // the unique part of the file name (before ":2,")
  std::string fileName;          // the name as last seen
  std::string subfolder;         // "new" or "cur"
  std::time_t deliveryTime = 0;  // the file's modification time (set by the delivery agent)
  long deliveryNanos = 0;        // its nanoseconds
  std::int64_t size = 0;
  // The file's inode: a rename keeps it, so a renamed message is told apart
  // from another file that shares its unique part.
  std::uint64_t inode = 0;
  std::string subject;        // decoded to UTF-8
  std::string senderName;     // decoded to UTF-8
  std::string senderAddress;  // the mailbox address of From
  bool read = false;          // 'S' among the flags after ":2,"
};

// Decoded values of a message's header block.
struct MailHeaders {
  std::string subject;
  std::string senderName;
  std::string senderAddress;
};

// Parses the header block (the bytes before the first empty line) of a
// message: RFC 2047 words decoded to UTF-8, From split into name and address
// (a group is not a mailbox: both stay empty). Never fails; bad input gives
// what could be read.
MailHeaders ParseMailHeaders(std::string_view headerBlock);

// Every bare LF made CR LF: the canonical form of a MIME text, as the phone's
// store handed it out (files on Linux mostly hold bare LF).
std::string CanonicalLineEnds(std::string_view text);
// The same in place; without room for the added CRs it makes a copy.
void ExpandBareLineFeeds(std::string& text);

// Initialises the mail header parser once, before threads start.
void InitMailHeaderParser();

class MailStore {
 public:
  MailStore(std::string name, std::string path);
  MailStore(MailStore&&) noexcept;
  MailStore& operator=(MailStore&&) noexcept;
  ~MailStore();

  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

  // Whether the store has an inbox: new/ and cur/ are folders.
  bool HasInbox() const;
  // Number of message files in new/ and cur/ (not tmp/, not dot-files).
  int InboxRowCount();
  // Creates (or opens) .Spam with cur/ new/ tmp/ and maildirfolder.
  bool OpenSpamFolder();
  // Every row, newest first; equal times by name. Header columns are kept
  // per file name, size and time, and a folder whose modification time has
  // not changed is not read again. False when the inbox cannot be read.
  bool ContentsTable(std::vector<MailRow>& rows);
  // The message's bytes with every bare LF made CR LF; a message renamed
  // meanwhile is found again by its entry id and inode. On failure text is empty and
  // error says "OpenProperty failed." (cannot open) or "BodySize failed."
  // (empty file).
  bool ReadMimeText(const MailRow& row, std::string& text, std::string& error) const;
  // Whether the message is still in the inbox (under its name, or renamed).
  bool StillThere(const MailRow& row) const;
  // Moves the message into .Spam/<subfolder>/ by rename, name and flags
  // kept (Dovecot's keyword letters renamed to the spam folder's, so the
  // keywords stay the same); a message renamed meanwhile (new flags, new/ to cur/) is found
  // again by its entry id and inode, never mistaken for another file with
  // the same unique part. A failed rename leaves it where it was.
  bool MoveToSpam(const MailRow& row);

 private:
  struct Cache;
  // Where the row's file is now, in new/ or cur/: its name when the file
  // there is still the row's, else the file with its entry id and inode.
  bool FindRow(const MailRow& row, std::string& subfolder, std::string& fileName) const;
  std::string name_;
  std::string path_;
  std::unique_ptr<Cache> cache_;
};

// The entries of the mail folder, in name order, as (name, path). Creates
// the folder when it is missing (unless create is false); false when it
// cannot be read.
bool ListMailStores(const std::string& mailFolder,
                    std::vector<std::pair<std::string, std::string>>& stores, bool create = true);

}  // namespace varnox
