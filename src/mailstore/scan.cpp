#include "mailstore/scan.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "analysis/fingerprint.h"
#include "mailstore/read_ahead.h"
#include "platform/ascii_text.h"
#include "platform/clock.h"
#include "platform/cores.h"
#include "platform/trace.h"
#include "storage/data_locations.h"

namespace varnox {
namespace {

using std::chrono::milliseconds;

// A store whose log would be named like the data folder's own databases
// would be mistaken for them.
bool ClashesWithOwnDatabases(const std::string& name) {
  const std::string file = name + ".db";
  return file.find(kSmsLogFile) != std::string::npos || file.find(kRulesFile) != std::string::npos;
}

// The key of a row: delivery date and time, subject, sender name and address.
std::string RowKey(const MailRow& row) {
  const std::tm local = LocalTime(row.deliveryTime);
  return LongDateText(local) + " " + TimeText(local) + " " + row.subject + " " + row.senderName +
         " " + row.senderAddress;
}

}  // namespace

StoreScan::StoreScan(std::string mailFolder, MessageLog& log, RuleStore& rules, RuleTable& table,
                     PauseGate& gate, ScanHooks hooks, StoreScanOptions options)
    : mailFolder_(std::move(mailFolder)),
      log_(log),
      rules_(rules),
      table_(table),
      gate_(gate),
      hooks_(std::move(hooks)),
      options_(options),
      processor_(log, table, [this](std::chrono::milliseconds d) { gate_.Sleep(d); }) {}

StoreScan::~StoreScan() {
  Join();
}

bool StoreScan::Start() {
  if (thread_.joinable()) return true;
  gate_.WorkerStarted();
  thread_ = std::thread([this] {
    // Below normal priority: the scan yields to the user interface.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
    MailStoreThread();
    gate_.WorkerEnded();
  });
  return true;
}

void StoreScan::Join() {
  if (!thread_.joinable()) return;
  gate_.Stop();
  thread_.join();
}

int StoreScan::MailStoreThread() {
  try {
    if (rules_.GetRuleCount() < 1) rules_.LoadRules();
  } catch (...) {
    Trace("ERROR in CheckNewMessagesForSpam : 1");
  }
  while (RunPass()) {
  }
  return 0;
}

bool StoreScan::RunPass() {
  // Until the rules have been read once, a verdict would be "normal" for
  // every message, logged for good: such a pass only tries the load again.
  if (!rules_.RulesLoaded() && !rules_.LoadRules()) return gate_.Sleep(milliseconds(1000));
  if (RescanRequest.exchange(0) != 0) {
    forced_ = true;
    passRecheck_ = recheckNotice_.exchange(-1);
  }
  try {
    if (!LogonMailStore()) return false;
    if (!storesRead_) {
      std::fprintf(stderr,
                   "**************************** Starting MailStore Retrieval "
                   "*************************\n\n");
      storesRead_ = true;
      EnumerateStores();
    }
  } catch (...) {
    Trace("ERROR in CheckNewMessagesForSpam : 2");
  }
  const bool mailFolderThere = WatchMailFolder();
  if (forced_) {
    for (auto& s : stores_) s->knownRows.clear();
  }
  bool foundChange = false;
  for (auto& sp : stores_) {
    StoreRecord& store = *sp;
    if (!gate_.Sleep(milliseconds(100))) return false;
    if (!mailFolderThere || !StorePresent(store)) continue;
    try {
      const int n = InboxMessageCount(store);
      if (n != store.messageCount && !firstPass_) {
        if (!gate_.Sleep(options_.settle)) return false;
      }
      if (n == store.messageCount && store.changed == 0 && !forced_ && !periodic_) continue;
      if (n != store.messageCount) {
        foundChange = true;
        periodic_ = false;
      }
      if (TraceEnabled())
        Trace("Change in Message Count : " + store.name + " (" + std::to_string(n) + ", " +
              std::to_string(store.messageCount) + ")");
      std::fprintf(stderr, "Working on %s\n", store.name.c_str());
      if (!CheckNewMessagesForSpam(unread_, firstPass_, periodic_, store))
        Trace("Failed to CheckNewMessagesForSpam");
    } catch (...) {
      Trace("ERROR in CheckNewMessagesForSpam : 3");
    }
    if (gate_.Stopping()) return false;
  }
  firstPass_ = false;
  if ((foundChange || forced_) && hooks_.reloadList) hooks_.reloadList();
  forced_ = false;
  passRecheck_ = -1;
  if (!gate_.Sleep(milliseconds(1000))) return false;
  ++passCount_;
  periodic_ = passCount_ % 10 == 0;
  ShowStatus(periodic_
                 ? (hooks_.checkingText ? hooks_.checkingText() : std::string("Checking")) + "..."
                 : std::string());
  unread_ = passCount_ % 60 == 0;
  return true;
}

bool StoreScan::LogonMailStore() {
  if (loggedOn_) return true;
  std::vector<std::pair<std::string, std::string>> entries;
  loggedOn_ = ListMailStores(mailFolder_, entries);
  return loggedOn_;
}

void StoreScan::EnumerateStores() {
  stores_.clear();
  {
    std::lock_guard<std::mutex> guard(namesMutex_);  // guards names_
    names_.clear();
  }
  std::vector<std::pair<std::string, std::string>> entries;
  if (!ListMailStores(mailFolder_, entries)) return;
  if (!gate_.Sleep(milliseconds(100))) return;
  for (const auto& entry : entries) mailEntries_.insert(entry.first);
  for (const auto& entry : entries) {
    const std::string& name = entry.first;
    const std::string& path = entry.second;
    const bool seen = std::any_of(stores_.begin(), stores_.end(), [&](const auto& s) {
      return EqualIgnoringAsciiCase(s->name, name);
    });
    if (seen || static_cast<int>(stores_.size()) >= kMaxStores || IsExcludedStore(name)) continue;
    if (name.size() > kMaxStoreName) continue;
    if (ClashesWithOwnDatabases(name)) {
      std::fprintf(stderr,
                   "varnox: the store %s is not watched: its log would be named like "
                   "the data folder's own databases\n",
                   name.c_str());
      continue;
    }
    auto record = std::make_unique<StoreRecord>(name, path);
    log_.MAPICreateLog(name);
    stores_.push_back(std::move(record));
    {
      std::lock_guard<std::mutex> guard(namesMutex_);  // guards names_
      names_.push_back(name);
    }
    if (!gate_.Sleep(milliseconds(100))) return;
  }
}

bool StoreScan::IsExcludedStore(const std::string& name) {
  const std::string lower = LowerAsciiCopy(name);
  return lower == "activesync" || lower == "sms";
}

int StoreScan::InboxMessageCount(StoreRecord& store) {
  if (!store.store.HasInbox()) return 0;
  return store.store.InboxRowCount();
}

int StoreScan::CheckNewMessagesForSpam(bool unread, bool firstPass, bool periodic,
                                       StoreRecord& store) {
  try {
    if (!store.store.HasInbox()) return 0;
    store.hasSpamFolder = store.store.OpenSpamFolder();
    if (!store.hasSpamFolder) Trace("Failed to create spam folder");
    std::vector<MailRow>& rows = store.rows;
    if (!store.store.ContentsTable(rows)) return 0;
    const int n0 = static_cast<int>(rows.size());
    store.messageCount = n0;
    StoreReport& report = ReportFor(store);
    int processed = 0;
    const bool keyed = unread || firstPass || periodic;
    ++store.walk;
    const unsigned generation = RulesGeneration();
    // After the re-check under the rules in force, the log's verdicts are
    // current: of the rows found normal before, only those it made spam
    // need handing over.
    std::unordered_set<int> spamIds;
    const bool afterRecheck = options_.memo && forced_ && passRecheck_ == generation &&
                              !store.memo.empty() && log_.LoggedSpamIds(store.name, spamIds);
    // A forced pass without the re-check's word hands everything over.
    const bool memoTrusted = options_.memo && (!forced_ || afterRecheck);
    bool failed = false;
    // The rows to hand over, decided first: each decision rests on the row's
    // own key and memo, never on what handing over an earlier row did.
    std::vector<const MailRow*> handed;
    std::vector<std::string> keys;
    std::string key;
    for (const MailRow& row : rows) {
      if (!gate_.SafePoint()) break;
      key.assign(row.subfolder).append("/").append(row.fileName);
      bool needed = true;
      if (keyed) {
        StoreRecord::RowKey& rowKey = store.rowKeys[key];
        if (rowKey.fingerprint.empty() || rowKey.deliveryTime != row.deliveryTime) {
          rowKey.deliveryTime = row.deliveryTime;
          rowKey.fingerprint = Fingerprint(RowKey(row));
        }
        const bool known = RememberFingerprint(store, rowKey.fingerprint) == 1;
        needed = !known || firstPass || (unread && !row.read);
      }
      if (!needed) continue;
      if (memoTrusted) {
        const auto memo = store.memo.find(key);
        if (memo != store.memo.end() && memo->second.SameFile(row)) {
          if (afterRecheck) {
            if (spamIds.count(memo->second.logId) == 0) {
              memo->second.generation = generation;
              continue;
            }
          } else if (memo->second.generation == generation) {
            continue;
          }
        }
      }
      handed.push_back(&row);
      keys.push_back(key);
    }
    // The second thread rests between messages as the scan thread does.
    ReadAhead ahead(processor_, log_, store, std::move(handed), SecondThread(),
                    gate_.Sleeps()
                        ? ExtractPause([](milliseconds d) { std::this_thread::sleep_for(d); })
                        : ExtractPause());
    // The outcome of a row, counted once its log writes are committed.
    const auto account = [&](std::size_t i, const ProcessOutcome& outcome) {
      const MailRow& row = ahead.Row(i);
      ++report.examined;
      report.logged += outcome.logged;
      report.moved += outcome.moved;
      failed |= outcome.failed;
      if (options_.memo) {
        if (outcome.normal && !outcome.failed && outcome.generation == RulesGeneration())
          store.memo[keys[i]] =
              StoreRecord::Memo{row.deliveryTime, row.deliveryNanos, row.size,
                                row.inode,        outcome.logId,     outcome.generation};
        else
          store.memo.erase(keys[i]);
      }
    };
    // Without rests between rows (a one-shot scan), rows are logged in
    // batches of one transaction each; their spam is filed after the commit,
    // so no message leaves the inbox before its row is stored.
    const int batchRows = options_.batchRows > 0 ? options_.batchRows : kBatchRows;
    const bool batching = !gate_.Sleeps() && batchRows > 1 && ahead.size() > 1;
    processor_.DeferFiling(batching);
    std::optional<MessageLog::Batch> batch;  // open while rows are pending
    std::vector<std::pair<std::size_t, ProcessOutcome>> pending;
    const auto flush = [&] {
      const bool committed = !batch || batch->Commit(false);
      batch.reset();
      for (auto& [i, outcome] : pending) {
        if (!committed) {
          // Nothing of it is stored: the row stays and is handed over again.
          outcome.logged = false;
          outcome.normal = false;
          outcome.failed = true;
        } else if (outcome.toFile && processor_.MoveToSpamFolder(store, ahead.Row(i))) {
          outcome.moved = true;
        }
        account(i, outcome);
      }
      pending.clear();
    };
    for (std::size_t i = 0; i < ahead.size(); ++i) {
      const MailRow& row = ahead.Row(i);
      if (static_cast<int>(pending.size()) >= batchRows) flush();
      // The pause comes before rows that are handed over, not skipped ones;
      // a batch is committed first, so a paused scan holds no log.
      if (pending.empty() ? !gate_.Sleep(milliseconds(10)) : gate_.Stopping()) break;
      if (batching && !batch) batch.emplace(log_, store.name);
      ++processed;
      ShowStatus(store.name + " : " + std::to_string(processed) + " / " +
                 std::to_string(store.messageCount) + ".");
      ProcessOutcome outcome;
      RowText text = ahead.Take(i);
      processor_.FinishRow(store, row, text, &outcome);
      if (batching)
        pending.emplace_back(i, outcome);
      else
        account(i, outcome);
    }
    flush();
    processor_.DeferFiling(false);
    // Keys of rows that have left the inbox are forgotten.
    if (!gate_.Stopping() &&
        (store.rowKeys.size() > rows.size() || store.memo.size() > rows.size())) {
      std::unordered_set<std::string> names;
      for (const MailRow& row : rows) names.insert(row.subfolder + "/" + row.fileName);
      for (auto it = store.rowKeys.begin(); it != store.rowKeys.end();)
        it = names.count(it->first) ? std::next(it) : store.rowKeys.erase(it);
      for (auto it = store.memo.begin(); it != store.memo.end();)
        it = names.count(it->first) ? std::next(it) : store.memo.erase(it);
    }
    if (keyed && !gate_.Stopping()) {
      for (auto it = store.knownRows.begin(); it != store.knownRows.end();)
        it = it->second == store.walk ? std::next(it) : store.knownRows.erase(it);
    }
    store.messageCount = InboxMessageCount(store);
    // A row that could not be logged stays in the inbox; the next pass
    // checks the store again and hands it over.
    store.changed = store.messageCount != n0 || failed ? 1 : 0;
    return 1;
  } catch (...) {
    return 0;
  }
}

int StoreScan::RememberFingerprint(StoreRecord& store, const std::string& fingerprint) {
  const auto [it, added] = store.knownRows.try_emplace(fingerprint, store.walk);
  it->second = store.walk;
  return added ? 0 : 1;
}

int StoreScan::GetStoreCount() const {
  std::lock_guard<std::mutex> guard(namesMutex_);  // guards names_
  return static_cast<int>(names_.size());
}

bool StoreScan::GetStoreName(int index, std::string& name) const {
  std::lock_guard<std::mutex> guard(namesMutex_);  // guards names_
  if (index < 0 || static_cast<std::size_t>(index) >= names_.size()) return false;
  name = names_[static_cast<std::size_t>(index)];
  return true;
}

void StoreScan::RecheckDone(unsigned generation) {
  recheckNotice_ = generation;
  RescanRequest = 1;
}

bool StoreScan::SecondThread() const {
  return options_.threads == 0 ? UsableCores() > 1 : options_.threads > 1;
}

unsigned StoreScan::RulesGeneration() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);  // guards the generation's reading
  return table_.generation;
}

bool StoreScan::WatchMailFolder() {
  struct stat st {};
  if (::stat(mailFolder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (!mailFolderGone_)
      std::fprintf(
          stderr,
          "varnox: the mail folder %s is gone; its stores are not watched until it is back\n",
          mailFolder_.c_str());
    mailFolderGone_ = true;
    return false;
  }
  mailFolderGone_ = false;
  std::vector<std::pair<std::string, std::string>> entries;
  if (!storesRead_ || !ListMailStores(mailFolder_, entries, false)) return true;
  for (const auto& entry : entries) {
    if (mailEntries_.insert(entry.first).second)
      std::fprintf(stderr,
                   "varnox: new store %s in the mail folder; it is watched after a restart\n",
                   entry.first.c_str());
  }
  return true;
}

bool StoreScan::StorePresent(StoreRecord& store) {
  struct stat st {};
  if (::stat(store.store.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    store.gone = false;
    return true;
  }
  if (!store.gone)
    std::fprintf(stderr, "varnox: the store %s (%s) is gone; the scan goes on with the others\n",
                 store.name.c_str(), store.store.path().c_str());
  store.gone = true;
  return false;
}

void StoreScan::ShowStatus(const std::string& text) {
  if (hooks_.showStatus) hooks_.showStatus(text);
}

StoreReport& StoreScan::ReportFor(const StoreRecord& store) {
  for (auto& r : reports_)
    if (r.name == store.name) return r;
  reports_.push_back(StoreReport{store.name, 0, 0, 0});
  return reports_.back();
}

}  // namespace varnox
