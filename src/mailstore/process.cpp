#include "mailstore/process.h"

#include <cstring>
#include <stdexcept>

#include "analysis/fixed_text.h"
#include "analysis/tokenizer.h"
#include "mailstore/extract.h"
#include "platform/clock.h"
#include "platform/trace.h"

namespace varnox {
namespace {

void TraceMessage(const std::string& storeName, const MessageRecord& m) {
  if (!TraceEnabled()) return;
  Trace(storeName);
  Trace("Sender=" + m.sender);
  Trace("EMail=" + m.senderEmail);
  Trace("Subject=" + m.subject);
  Trace("Received=" + m.receivedDate + " " + m.receivedTime);
}

}  // namespace

void ReadMessageHeader(const MailRow& row, MessageRecord& m) {
  m.sender = Utf8Prefix(row.senderName, 255);
  m.senderEmail = Utf8Prefix(row.senderAddress, 255);
  m.subject = Utf8Prefix(row.subject, 127);
  const std::tm local = LocalTime(row.deliveryTime);
  m.receivedDate = LongDateText(local);
  m.receivedTime = TimeText(local);
}

void ReadHeaderFromText(const std::string& mimeText, MessageRecord& m) {
  std::size_t end = mimeText.find("\r\n\r\n");
  end = end == std::string::npos ? mimeText.size() : end + 2;
  const MailHeaders h = ParseMailHeaders(std::string_view(mimeText).substr(0, end));
  m.sender = Utf8Prefix(h.senderName, 255);
  m.senderEmail = Utf8Prefix(h.senderAddress, 255);
  m.subject = Utf8Prefix(h.subject, 127);
}

int MessageProcessor::ProcessMessage(StoreRecord& store, const MailRow& row,
                                     ProcessOutcome* outcome) {
  RowText read;
  ReadRow(store, row, read);
  return FinishRow(store, row, read, outcome);
}

void MessageProcessor::ReadRow(StoreRecord& store, const MailRow& row, RowText& read) {
  try {
    ReadMessageHeader(row, read.m);
    read.read = store.store.ReadMimeText(row, read.m.mimeText, read.error);
    // The store hands out text up to its first NUL, and the log keys on that.
    read.m.mimeText.resize(std::strlen(read.m.mimeText.c_str()));
    read.m.fingerprint = BodyFingerprint(read.m.mimeText);
  } catch (...) {
    read.fault = true;
  }
}

void MessageProcessor::Extract(RowText& read, const ExtractPause& pause) {
  MessageRecord& m = read.m;
  m.lowered = m.mimeText;
  LowerAscii(m.lowered);
  ExtractMessageText(m.lowered, m.mimeText, m.subject, m.tokens, m.text, pause);
  read.extracted = true;
}

int MessageProcessor::FinishRow(StoreRecord& store, const MailRow& row, RowText& read,
                                ProcessOutcome* outcome) {
  try {
    if (read.fault) throw std::runtime_error("reading failed");
    MessageRecord& m = read.m;
    if (!read.read) {
      // Gone since the listing (deleted, or moved by a mail client): nothing
      // to examine, and no empty message to log in its name.
      if (!store.store.StillThere(row)) return 1;
      Trace(read.error);
      TraceMessage(store.name, m);
    }

    int id = 0, status = 0;
    std::string loggedTokens;
    if (log_.MAPIExists(store.name, m.mimeText, id, status, loggedTokens, m.fingerprint)) {
      // Checked again from its logged tokens, not from a new extraction (the
      // lowered text and the plain text stay empty).
      m.lowered.clear();
      m.text.clear();
      m.tokens = std::move(loggedTokens);
      ProcessOutcome scratch;
      ProcessOutcome& out = outcome ? *outcome : scratch;
      out.logId = id;
      const bool moved = ClassifyAndLog(false, status, store, row, m, &out);
      if (status == 1 && !moved) File(store, row, out);
      return 1;
    }
    if (!read.extracted) Extract(read, pause_);
    if (!m.senderEmail.empty() || !m.subject.empty() || !m.mimeText.empty())
      ClassifyAndLog(true, 0, store, row, m, outcome);
    return 1;
  } catch (...) {
    Trace("ProcessMessage : Fatal Error!.");
    return 0;
  }
}

bool MessageProcessor::ClassifyAndLog(bool isNew, int loggedStatus, StoreRecord& store,
                                      const MailRow& row, const MessageRecord& m,
                                      ProcessOutcome* outcome) {
  ProcessOutcome scratch;
  ProcessOutcome& out = outcome ? *outcome : scratch;
  try {
    if (isNew) TraceMessage(store.name, m);
    {
      std::lock_guard<std::shared_mutex> guard(rules_.lock);  // guards the generation's reading
      out.generation = rules_.generation;
    }
    const int spam = Classify(rules_, m.senderEmail, m.tokens);
    // Whether the log holds the message with the verdict spam now.
    bool loggedSpam = !isNew && loggedStatus == 1;
    if (!isNew && loggedStatus == spam) {
      out.normal = spam == 0;
    } else {
      // For a logged message the add finds its row and writes nothing; the
      // update then turns a logged normal message into spam.
      int id = -1;
      bool inserted = false;
      if (log_.MAPIAdd(store.name, m.sender, m.senderEmail, m.subject, m.mimeText, m.lowered,
                       m.text, m.tokens, spam, m.receivedDate, m.receivedTime, id, &inserted,
                       m.fingerprint)) {
        Trace("MAPIAdd Ok.");
        if (inserted) {
          out.logged = true;
          out.logId = id;
          out.normal = spam == 0;
        }
        // A row the add has just written carries the verdict already; only a
        // row that was there before needs the update.
        if (spam == 1) loggedSpam = inserted || log_.MAPIUpdate(store.name, id, 1);
      } else {
        Trace("ERROR : MAPIAdd.");
      }
      if (spam == 1 && !loggedSpam) out.failed = true;
      if (isNew && id < 0) out.failed = true;
    }
    // Spam leaves the inbox only once the log says so: a moved message is
    // never handed over again, so its row could not be written later.
    if (spam == 1 && loggedSpam) return File(store, row, out);
    return false;
  } catch (...) {
    out.failed = true;
    return false;
  }
}

bool MessageProcessor::File(StoreRecord& store, const MailRow& row, ProcessOutcome& out) {
  if (deferFiling_) {
    out.toFile = true;
    return true;
  }
  const bool moved = MoveToSpamFolder(store, row);
  if (moved) out.moved = true;
  return moved;
}

bool MessageProcessor::MoveToSpamFolder(StoreRecord& store, const MailRow& row) {
  if (!store.hasSpamFolder || !store.store.MoveToSpam(row)) {
    Trace("Failed to move message to spam folder");
    return false;
  }
  return true;
}

}  // namespace varnox
