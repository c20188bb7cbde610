// The scan with its memo of rows found normal against the scan that hands
// over every row the pass table names, and the scan that reads ahead on a
// second thread and commits rows in batches against the one that works on
// one and commits each row: over the same generated
// inbox, both must leave the same log rows, files and console lines after
// every step.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "html2txt/html_converter.h"
#include "mailstore/scan.h"
#include "storage/init_storage.h"
#include "storage/recheck.h"
#include "storage/sqlite_db.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// One root with its storage and scan.
struct World {
  explicit World(bool memo, int threads = 1, int batchRows = 1)
      : storage(root.path(), clock, table) {
    storage.InitStorage(1, nullptr);
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(Inbox() + "/" + sub);
    scan = std::make_unique<StoreScan>(
        root / "Mail", storage.messages, storage.rules, table, gate, ScanHooks{},
        StoreScanOptions{memo, std::chrono::milliseconds(0), threads, batchRows});
    scan->LogonMailStore();
  }
  std::string Inbox() const { return root / "Mail/Inbox"; }
  std::string Log() { return storage.locations.DataFolder() + "Inbox.db"; }
  // sub is "new" or "cur"; every delivery has its own time, so both worlds
  // list the rows in one order.
  // The subject is the name unless given: files with one text need one.
  void Deliver(const std::string& sub, const std::string& name, const std::string& from,
               const std::string& body, const std::string& subject = "",
               const std::string& type = "text/plain; charset=us-ascii") {
    const std::string path = Inbox() + "/" + sub + "/" + name;
    ASSERT_TRUE(WriteFile(path, "From: " + from +
                                    "\nSubject: " + (subject.empty() ? name : subject) +
                                    "\nContent-Type: " + type + "\n\n" + body + "\n"));
    const timespec t{1700000000 + static_cast<long>(++deliveries), 0};
    const timespec times[2] = {t, t};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  void Rule(const std::string& sender, const std::string& message) {
    ASSERT_TRUE(storage.rules.AddRule(sender, message, "", 0, message.empty() ? 1 : 0, 60.0f));
    storage.rules.LoadRules();
  }
  // The console lines of the passes, the root's path masked.
  std::string Passes(int count) {
    testing::internal::CaptureStderr();
    for (int i = 0; i < count; ++i) scan->RunPass();
    std::string out = testing::internal::GetCapturedStderr();
    for (std::size_t at; (at = out.find(root.path())) != std::string::npos;)
      out.replace(at, root.path().size(), "<root>");
    return out;
  }
  // Log rows, and every file under the mail folder with its bytes.
  std::pair<std::vector<std::string>, std::map<std::string, std::string>> State() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root / "Mail"))
      if (e.is_regular_file())
        files[fs::relative(e.path(), root / "Mail").string()] = ReadAll(e.path().string());
    return {Query(Log(), "SELECT * FROM Msg ORDER BY Id;"), files};
  }
  int Examined() const { return scan->Reports().empty() ? 0 : scan->Reports()[0].examined; }
  // The re-check over every log; its rule generation.
  unsigned Recheck() {
    const auto g =
        RecheckLogs(storage.locations, storage.messages, storage.smsLog, storage.rules, table);
    EXPECT_TRUE(g.has_value());
    return g.value_or(0);
  }
  // The files of one subfolder of the inbox, sorted.
  std::set<std::string> Listed(const std::string& sub) {
    std::set<std::string> paths;
    for (const auto& e : fs::directory_iterator(Inbox() + "/" + sub)) paths.insert(e.path());
    return paths;
  }

  TempRoot root;
  FixedClock clock{1700000000};
  RuleTable table;
  Storage storage;
  PauseGate gate{false};
  std::unique_ptr<StoreScan> scan;
  std::unique_ptr<Database> locker;  // holds the log's write lock while set
  int deliveries = 0;
};

// Steps of mail, rules, re-checks and faults, done in both worlds alike; after
// each, their console lines, log rows and files must be equal.
void SameOutcomes(World& on, World& off, bool memoAgainstNone) {
  // Message i: every fifth from a spam sender, four topics in turn.
  auto arrive = [&](World& w, const std::string& sub, int i) {
    static const char* topics[] = {
        "garden party on sunday with cake", "cheap watches replica luxury brand sale",
        "quarterly report numbers for the board", "lottery winner claim your prize money now"};
    const std::string n = std::to_string(i);
    w.Deliver(sub, std::to_string(1000 + i) + ".M" + n + ".host" + (sub == "cur" ? ":2,S" : ""),
              i % 5 == 0 ? "Deals <d" + n + "@spam.example>" : "Friend <f" + n + "@example.org>",
              std::string(topics[i % 4]) + " note " + n);
  };
  struct Step {
    std::string what;
    std::function<void(World&)> act;  // done in both worlds, the same way
    int passes = 1;
  };
  const Step steps[] = {
      {"first pass",
       [&](World& w) {
         w.Rule("spam.example", "");
         for (int i = 0; i < 40; ++i) arrive(w, i % 4 ? "cur" : "new", i);
       }},
      {"a normal arrival", [&](World& w) { arrive(w, "cur", 41); }},
      {"the same message twice, spam and normal, with HTML",
       [&](World& w) {
         for (const char* name : {"2000.M1.host", "2001.M2.host", "2002.M3.host:2,S"}) {
           w.Deliver("new", name, "Deals <same@spam.example>", "the same words", "same");
           w.Deliver("cur", std::string(name) + "h", "Friend <h@example.org>",
                     "<html><p>lottery <b>winner</b> claim your prize</p></html>", "same html",
                     "text/html");
         }
       }},
      {"a spam arrival, then a pass on the changed count", [&](World& w) { arrive(w, "new", 45); },
       2},
      {"a rule change, then an arrival",
       [&](World& w) {
         w.Rule("", "cheap watches replica luxury brand sale");
         arrive(w, "cur", 42);
       }},
      {"a rule change and the re-check",
       [&](World& w) {
         w.Rule("", "lottery winner claim your prize money");
         w.scan->RecheckDone(w.Recheck());
       },
       2},
      {"a re-check, then another rule change before its pass",
       [&](World& w) {
         w.Rule("", "quarterly report numbers for the board");
         const unsigned g = w.Recheck();
         w.Rule("nobody.example", "");
         w.scan->RecheckDone(g);
       },
       2},
      {"a row made spam outside the scan, then a forced pass",
       [&](World& w) {
         const auto id = Query(w.Log(), "SELECT MIN(Id) FROM Msg WHERE Status = 0;");
         w.storage.messages.MAPIUpdate("Inbox", std::stoi(id.at(0)), 1);
         w.scan->RescanRequest = 1;
       }},
      {"a mail client renames, and an arrival",
       [&](World& w) {
         // new/ to cur/ for the unread, a new flag for every second read one
         std::size_t n = 0;
         for (const std::string& p : w.Listed("cur"))
           if (n++ % 2 == 0) fs::rename(p, p + "R");
         for (const std::string& p : w.Listed("new"))
           fs::rename(p, w.Inbox() + "/cur/" + fs::path(p).filename().string() + ":2,S");
         arrive(w, "cur", 43);
       }},
      {"spam left in the inbox by a failed move",
       [&](World& w) {
         // .Spam/new a file, so no spam folder can be opened
         fs::rename(w.Inbox() + "/.Spam/new", w.Inbox() + "/.Spam/away");
         ASSERT_TRUE(WriteFile(w.Inbox() + "/.Spam/new", "in the way"));
         arrive(w, "new", 50);
       }},
      {"the spam folder back, and an arrival",
       [&](World& w) {
         fs::remove(w.Inbox() + "/.Spam/new");
         fs::rename(w.Inbox() + "/.Spam/away", w.Inbox() + "/.Spam/new");
         arrive(w, "cur", 46);
       }},
      {"a failed log write",
       [&](World& w) {
         w.locker = std::make_unique<Database>();
         std::string error;
         ASSERT_EQ(w.locker->Open(w.Log(), error), 0) << error;
         ASSERT_EQ(w.locker->Exec("BEGIN EXCLUSIVE;"), 0);
         arrive(w, "cur", 55);
       }},
      {"the log free again", [](World& w) { w.locker.reset(); }},
      {"ten, sixty passes", [](World&) {}, 62},
  };
  for (const Step& step : steps) {
    const int onBefore = on.Examined(), offBefore = off.Examined();
    step.act(on);
    step.act(off);
    EXPECT_EQ(on.Passes(step.passes), off.Passes(step.passes)) << step.what;
    EXPECT_EQ(on.State(), off.State()) << step.what;
    if (memoAgainstNone && step.what == "a normal arrival") {
      EXPECT_EQ(on.Examined() - onBefore, 1);  // only the new file
      EXPECT_GT(off.Examined() - offBefore, 30);
    }
  }
  if (memoAgainstNone) {
    EXPECT_LT(on.Examined(), off.Examined());
  }
}

TEST(ScanMemoTest, TheMemoChangesNoOutcome) {
  InitMailHeaderParser();
  CreateHtmlConverter();
  World on(true), off(false);
  SameOutcomes(on, off, true);
}

// Batches of four rows, so that a pass commits several.
TEST(ScanMemoTest, ReadingAheadOnASecondThreadAndBatchedCommitsChangeNoOutcome) {
  InitMailHeaderParser();
  CreateHtmlConverter();
  World two(true, 2, 4), one(true, 1, 1);
  SameOutcomes(two, one, false);
}

// The re-check writes each changed verdict both ways, an SMS row through
// the SMS log, a mail row through its store's log.
TEST(RecheckTest, ChangedVerdictsAreWrittenToEveryLog) {
  World w(true);
  ASSERT_EQ(w.storage.smsLog.SmsLogExec("INSERT INTO Spam (Id, Sender, Message, Tokens, Status) "
                                        "VALUES (1, '+4917', 'prize', 'prize win', 0);"),
            0);
  w.Deliver("cur", "1.x.host:2,S", "a@example.org", "garden party on sunday");
  w.Passes(1);
  const std::string smsLog = w.storage.locations.DataFolder() + "Spam_0.db";
  const struct {
    std::string add, remove, sms, mail;
  } steps[] = {{"prize win", "", "1", "0"}, {"garden party sunday", "prize win", "0", "1"}};
  for (const auto& step : steps) {
    w.Rule("", step.add);
    if (!step.remove.empty()) w.storage.rules.DeleteRule("", step.remove);
    w.Recheck();
    EXPECT_EQ(Query(smsLog, "SELECT Status FROM Spam;"), std::vector<std::string>{step.sms});
    EXPECT_EQ(Query(w.Log(), "SELECT Status FROM Msg;"), std::vector<std::string>{step.mail});
  }
}

// Thousands of verdicts changing, half the rows of a log flipping both ways;
// then a second connection taking a log's write lock late in the walk: the
// changes not yet written fail and keep their rows' old verdicts, those
// written before stay, and the counts say which is which; a walk stopped
// halfway keeps the verdicts changed up to there.
TEST(RecheckTest, ManyChangedVerdictsALockedLogAndAStop) {
  constexpr int kRows = 4100;
  // Only one log has rows when locked or stopped: the walk's rows are then
  // that log's, in Id order, so the stop probe (asked before each row)
  // counts them.
  const struct {
    int mailRows, smsRows;
    bool lockSms;
    int lockAt, stopAt;  // row of the walk before which that happens, 0 never
  } cases[] = {{kRows, kRows, false, 0, 0},
               {kRows, 0, false, 4050, 0},
               {0, kRows, true, 4050, 0},
               {kRows, 0, false, 0, 2500}};
  for (const auto& c : cases) {
    World w(true);
    w.Rule("spam.example", "");
    ASSERT_GE(w.storage.messages.MAPICreateLog("Inbox"), 0);
    const std::string sms = w.storage.locations.DataFolder() + kSmsLogFile;
    // Row i comes from spam.example when odd, and is logged as spam when i/2
    // is odd: every second row's verdict changes.
    const auto fill = [](const std::string& db, const char* table, const char* from, int rows) {
      if (rows > 0)
        Exec(db, FormatSql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                           "i < %d) INSERT INTO %s (Id, %s, Tokens, Status) SELECT i, CASE i %% 2 "
                           "WHEN 1 THEN 'a@spam.example' ELSE 'a@example.org' END, 'word', "
                           "i / 2 %% 2 FROM n;",
                           rows, table, from));
    };
    fill(w.Log(), "Msg", "SenderEMAIL", c.mailRows);
    fill(sms, "Spam", "Sender", c.smsRows);
    int walked = 0;
    std::vector<RecheckCount> counts;
    testing::internal::CaptureStderr();
    const auto generation =
        RecheckLogs(w.storage.locations, w.storage.messages, w.storage.smsLog, w.storage.rules,
                    w.table, &counts, [&] {
                      if (++walked == c.lockAt) {
                        w.locker = std::make_unique<Database>();
                        std::string error;
                        EXPECT_EQ(w.locker->Open(c.lockSms ? sms : w.Log(), error), 0) << error;
                        EXPECT_EQ(w.locker->Exec("BEGIN EXCLUSIVE;"), 0);
                      }
                      return walked == c.stopAt;
                    });
    const std::string said = testing::internal::GetCapturedStderr();
    w.locker.reset();
    EXPECT_EQ(generation.has_value(), c.stopAt == 0);
    // A stop in the mail log comes before or after the empty SMS log's walk.
    ASSERT_TRUE(counts.size() == 2u ||
                (c.stopAt && counts.size() == 1u && !IsSmsLogPath(counts[0].path)));
    for (const RecheckCount& count : counts) {
      const bool isSms = IsSmsLogPath(count.path);
      const bool locked = c.lockAt > 0 && isSms == c.lockSms;
      const auto rows = Query(count.path, isSms ? "SELECT Id, Status FROM Spam ORDER BY Id;"
                                                : "SELECT Id, Status FROM Msg ORDER BY Id;");
      const int expected = isSms ? c.smsRows : c.mailRows;
      ASSERT_EQ(rows.size(), static_cast<std::size_t>(expected)) << count.path;
      const int walkedRows = c.stopAt && expected ? c.stopAt - 1 : expected;
      int written = 0, kept = 0, flips = 0;
      for (int i = 1; i <= expected; ++i) {
        const int now = i % 2, before = i / 2 % 2;
        const std::string status = rows[i - 1].substr(rows[i - 1].find('|') + 1);
        ASSERT_EQ(rows[i - 1], std::to_string(i) + "|" + status);
        flips += i <= walkedRows && now != before;
        if (now == before) {
          EXPECT_EQ(status, std::to_string(now)) << i;
        } else if (status == std::to_string(now)) {
          ++written;
          EXPECT_TRUE((!locked || i < c.lockAt) && i <= walkedRows) << i << " written";
        } else {
          EXPECT_EQ(status, std::to_string(before)) << i;
          kept += i <= walkedRows;
        }
      }
      EXPECT_EQ(count.checked, walkedRows) << count.path;
      EXPECT_EQ(count.changed, written) << count.path;
      EXPECT_EQ(count.failed, kept) << count.path;
      EXPECT_EQ(written + kept, flips) << count.path;
      // Batches commit during the walk, so most changes made it before the lock.
      if (locked) {
        EXPECT_TRUE(kept > 0 && written > kept) << count.path << ": " << said;
        EXPECT_NE(said.find("database is locked"), std::string::npos) << said;
      } else {
        EXPECT_EQ(kept, 0) << count.path << ": " << said;
      }
    }
  }
}

}  // namespace
}  // namespace varnox
