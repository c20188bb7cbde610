// The store scan: pass after pass over the inboxes of the mail folder's
// stores, handing each row that needs attention to the message processor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mailstore/process.h"
#include "platform/pause_gate.h"
#include "storage/rule_store.h"

namespace varnox {

constexpr int kMaxStores = 64;

// How the scan talks to the user interface; empty functions do nothing.
struct ScanHooks {
  std::function<void(const std::string&)> showStatus;  // the viewer's status field
  std::function<void()> reloadList;                    // the viewer's day list
  // Interface string 127, read at every status so that a language chosen
  // while the scan runs shows at once; empty: "Checking".
  std::function<std::string()> checkingText;
};

// How the scan is run. memo off hands over every row a pass would hand over
// by the table alone (the reference the memo is held against).
struct StoreScanOptions {
  bool memo = true;
  // The pause after an inbox count changed, so the delivery settles first.
  std::chrono::milliseconds settle{30000};
  // Threads that handle an inbox's rows: 1, or 2 (the second reads the text
  // of the next messages while the first logs and files); 0 for 2 where the
  // process may use more than one processor.
  int threads = 0;
  // Rows logged in one transaction when the scan does not rest between rows;
  // 0 for kBatchRows, 1 for one transaction per row.
  int batchRows = 0;
};

inline constexpr int kBatchRows = 64;

// Per store, what the last check did (for the one-shot scan's report).
struct StoreReport {
  std::string name;
  int examined = 0;
  int logged = 0;
  int moved = 0;
};

class StoreScan {
 public:
  StoreScan(std::string mailFolder, MessageLog& log, RuleStore& rules, RuleTable& table,
            PauseGate& gate, ScanHooks hooks = {}, StoreScanOptions options = {});
  ~StoreScan();
  StoreScan(const StoreScan&) = delete;
  StoreScan& operator=(const StoreScan&) = delete;

  // Replaces the hooks; only before Start (the user interface that the hooks
  // reach is made after the scan, as it lists the scan's stores).
  void SetHooks(ScanHooks hooks) { hooks_ = std::move(hooks); }
  // Starts the scan thread at below-normal priority unless one runs; true
  // when a thread runs.
  bool Start();
  // Stops the thread (at its next safe point) and waits for it.
  void Join();
  // Pause returns once the scan stands at a safe point (between stores, between
  // rows, or in a sleep): it then does no work on logs and rules until resumed.
  void PauseScan() { gate_.Pause(); }
  void ResumeScan() { gate_.Resume(); }

  // The thread procedure: passes until the gate stops it; returns 0.
  int MailStoreThread();
  // One pass; false when the scan is to end.
  bool RunPass();

  bool LogonMailStore();
  void EnumerateStores();
  static bool IsExcludedStore(const std::string& name);
  int InboxMessageCount(StoreRecord& store);
  int CheckNewMessagesForSpam(bool unread, bool firstPass, bool periodic, StoreRecord& store);
  // 1 when the fingerprint was known to the store's cache, else remembers it.
  int RememberFingerprint(StoreRecord& store, const std::string& fingerprint);
  // The store table; any thread may read it while the scan thread fills it.
  int GetStoreCount() const;
  bool GetStoreName(int index, std::string& name) const;

  // The re-check sets it; the next pass handles every message again.
  std::atomic<int> RescanRequest{0};
  // The re-check has classified every logged row under the rules of
  // generation G and written the verdicts that changed; sets RescanRequest.
  // The forced pass then needs to hand over, of the rows whose files are
  // unchanged since they were found normal, only those now logged as spam.
  void RecheckDone(unsigned generation);

  const std::vector<StoreReport>& Reports() const { return reports_; }
  int PassCount() const { return passCount_; }

 private:
  void ShowStatus(const std::string& text);
  StoreReport& ReportFor(const StoreRecord& store);
  unsigned RulesGeneration();
  bool SecondThread() const;
  // Says once that the mail folder is gone, and once per new entry that it
  // is watched only after a restart; false while the folder is gone.
  bool WatchMailFolder();
  // False (said once) while the store's folder is gone.
  bool StorePresent(StoreRecord& store);

  std::string mailFolder_;
  MessageLog& log_;
  RuleStore& rules_;
  RuleTable& table_;
  PauseGate& gate_;
  ScanHooks hooks_;
  StoreScanOptions options_;
  MessageProcessor processor_;

  bool loggedOn_ = false;
  bool storesRead_ = false;
  std::vector<std::unique_ptr<StoreRecord>> stores_;
  // The stores' names, as the viewer reads them from its own threads.
  mutable std::mutex namesMutex_;  // guards: names_
  std::vector<std::string> names_;
  std::vector<StoreReport> reports_;
  int passCount_ = 0;
  bool firstPass_ = true;
  bool periodic_ = false;
  bool unread_ = false;
  bool forced_ = false;
  // The re-check's generation, from RecheckDone until its forced pass takes
  // it (-1: none); then the one the forced pass works with.
  std::atomic<std::int64_t> recheckNotice_{-1};
  std::int64_t passRecheck_ = -1;
  std::set<std::string> mailEntries_;  // the mail folder's entries known (or said)
  bool mailFolderGone_ = false;
  std::thread thread_;
};

}  // namespace varnox
