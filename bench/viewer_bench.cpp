// The viewer's list and the re-check on corpus messages:
// - ReloadMessageList for a day of 256 SMS and 256 messages in each of three
//   stores (the most the logs hand out per database and day);
// - the re-check of a 100,000-row message log built from the corpus's
//   messages (bodies as they are) against 512 rules, beside one cursor walk
//   over the same log without checking. The first re-check writes the
//   verdicts that differ from the arbitrary ones the log was built with (one
//   row in seven spam); the later ones find every verdict standing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/tokenizer.h"
#include "app/viewer.h"
#include "mailstore/extract.h"
#include "storage/init_storage.h"
#include "storage/recheck.h"
#include "storage/sqlite_db.h"
#include "support/corpus.h"
#include "support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using namespace varnox;

constexpr int kLogRows = 100000;
constexpr int kRules = 512;

// One corpus message as the store logs it.
struct Logged {
  std::string sender, subject, original, lowered, text, tokens;
};

std::string HeaderValue(const std::string& lowered, const std::string& original,
                        const std::string& name) {
  const std::size_t end = lowered.find("\r\n\r\n");
  const std::size_t at = lowered.find("\r\n" + name + ":");
  if (at == std::string::npos || at > end) return {};
  const std::size_t from = at + name.size() + 3;
  const std::size_t lineEnd = lowered.find("\r\n", from);
  std::string value = original.substr(from, std::min<std::size_t>(lineEnd - from, 200));
  value.erase(0, value.find_first_not_of(' '));
  return value;
}

const std::vector<Logged>& CorpusMessages() {
  static const std::vector<Logged> messages = [] {
    std::vector<Logged> out;
    for (const std::string& path : testsupport::CorpusFiles()) {
      std::string bytes = testsupport::ReadAll(path);
      bytes.resize(std::strlen(bytes.c_str()));
      Logged m;
      for (char c : bytes) {
        if (c == '\n' && (m.original.empty() || m.original.back() != '\r')) m.original += '\r';
        m.original += c;
      }
      m.lowered = m.original;
      LowerAscii(m.lowered);
      m.sender = HeaderValue(m.lowered, m.original, "from");
      m.subject = HeaderValue(m.lowered, m.original, "subject");
      ExtractMessageText(m.lowered, m.original, m.subject, m.tokens, m.text, {});
      out.push_back(std::move(m));
    }
    return out;
  }();
  return messages;
}

// Writes rows of the corpus's messages into a log, in one transaction.
void FillLog(const std::string& db, const std::string& table, int first, int rows,
             const std::string& day, bool sms) {
  Database conn;
  std::string error;
  conn.Open(db, error);
  conn.Exec("BEGIN;");
  Statement st;
  conn.Prepare(sms ? "INSERT INTO " + table + " VALUES (?1, ?2, ?3, ?4, ?5, '10:00:00 AM', ?6);"
                   : "INSERT INTO " + table +
                         " VALUES (?1, ?2, ?2, ?3, ?4, ?5, ?6, ?7, ?8, '10:00:00 AM', ?9, ?10);",
               st);
  const auto& corpus = CorpusMessages();
  for (int r = 0; r < rows; ++r) {
    const Logged& m = corpus[static_cast<std::size_t>(first + r) % corpus.size()];
    int i = 1;
    st.BindInt(i++, first + r + 1);
    st.BindText(i++, m.sender);
    if (sms) {
      st.BindText(i++, m.subject);
      st.BindText(i++, BuildTokenString(m.subject));
    } else {
      st.BindText(i++, m.subject);
      st.BindText(i++, m.original);
      st.BindText(i++, m.lowered);
      st.BindText(i++, m.text);
      st.BindText(i++, m.tokens);
    }
    st.BindText(i++, day);
    st.BindInt(i++, r % 7 == 0 ? 1 : 0);
    if (!sms) st.BindText(i++, std::to_string(first + r));
    st.Step();
    st.Reset();
  }
  conn.Exec("COMMIT;");
}

// A device root with its storage, the scan's store table, the window model
// and the viewer.
struct Root {
  testsupport::TempRoot root;
  FixedClock clock{1796000000};
  RuleTable table;
  Storage storage{root.path(), clock, table};
  PauseGate gate{false};
  StoreScan scan{root / "Mail", storage.messages, storage.rules, table, gate};
  WindowModel model;
  InterfaceStrings strings;
  std::unique_ptr<Viewer> viewer;

  explicit Root(std::initializer_list<const char*> stores) {
    storage.InitStorage(1, nullptr);
    for (const char* name : stores)
      for (const char* sub : {"new", "cur", "tmp"})
        fs::create_directories(root / ("Mail/" + std::string(name) + "/" + sub));
    fs::create_directories(root / "Mail");
    scan.LogonMailStore();
    scan.EnumerateStores();
    viewer = std::make_unique<Viewer>(model, storage, scan, root / "Varnox", strings);
  }
  std::string Db(const std::string& name) { return storage.locations.DataFolder() + name; }
};

void BM_ReloadMessageList(benchmark::State& state) {
  static const std::unique_ptr<Root> day = [] {
    auto r = std::make_unique<Root>(std::initializer_list<const char*>{"Home", "Office", "Shop"});
    const std::string today = r->storage.locations.DayText(0);
    FillLog(r->Db(kSmsLogFile), kSmsLogTable, 0, kMaxSmsEntries, today, true);
    int first = 1000;
    for (const char* store : {"Home", "Office", "Shop"}) {
      FillLog(r->Db(std::string(store) + ".db"), "Msg", first, kMaxLogEntries, today, false);
      first += 1000;
    }
    r->viewer->Open();
    r->model.SetChecked(kViewerDialog, 1011, true);
    return r;
  }();
  for (auto _ : state) day->viewer->ReloadMessageList();
  state.counters["messages"] = std::stod(day->model.Text(kViewerDialog, 1037));
}
BENCHMARK(BM_ReloadMessageList)->Unit(benchmark::kMillisecond);

// The 100,000-row log and 512 rules made from the corpus's spam.
Root& RecheckRoot() {
  static const std::unique_ptr<Root> r = [] {
    auto root = std::make_unique<Root>(std::initializer_list<const char*>{"Corpus"});
    FillLog(root->Db("Corpus.db"), "Msg", 0, kLogRows, root->storage.locations.DayText(1), false);
    const auto& corpus = CorpusMessages();
    // Distinct senders and texts, so no rule replaces another.
    std::set<std::string> seen;
    int n = 0;
    for (std::size_t i = 0; n < kRules && i < corpus.size(); i += 7) {
      const Logged& m = corpus[i];
      const bool bySender = n % 8 == 0;
      const std::string text = bySender ? m.sender : m.text.substr(0, 400);
      if (text.size() < (bySender ? 6u : 200u) || !seen.insert(text).second) continue;
      n += bySender ? root->storage.rules.AddRule(text, "", "", 0, 1, 90.0f)
                    : root->storage.rules.AddRule("", text, "", 0, 0, 75.0f);
    }
    root->storage.rules.LoadRules();
    std::printf("log: %d rows, %.0f MB; rules: %d\n", kLogRows,
                static_cast<double>(fs::file_size(root->Db("Corpus.db"))) / 1e6,
                root->storage.rules.GetRuleCount());
    return root;
  }();
  return *r;
}

void BM_Recheck(benchmark::State& state) {
  Root& r = RecheckRoot();
  std::vector<RecheckCount> counts;
  for (auto _ : state) {
    counts.clear();
    RecheckLogs(r.storage.locations, r.storage.messages, r.storage.smsLog, r.storage.rules, r.table,
                &counts);
  }
  int rows = 0, changed = 0;
  for (const RecheckCount& c : counts) rows += c.checked, changed += c.changed;
  state.counters["rows/s"] = benchmark::Counter(rows * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
  state.counters["changed"] = changed;
}
BENCHMARK(BM_Recheck)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3);

void BM_CursorWalk(benchmark::State& state) {
  Root& r = RecheckRoot();
  const std::string path = r.Db("Corpus.db");
  int rows = 0;
  for (auto _ : state) {
    LogRow row;
    r.storage.messages.MAPIGetNextMessage(0, path, 1, 1, 1, -1, 1, 1, row);
    while (r.storage.messages.MAPIGetNextMessage(2, path, 1, 1, 1, -1, 1, 1, row)) ++rows;
  }
  state.counters["rows/s"] = benchmark::Counter(rows, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CursorWalk)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
