// The scan and the processing of messages on real Maildirs, real logs and
// real rule databases in temporary roots.
#include "mailstore/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "html2txt/html_converter.h"
#include "storage/init_storage.h"
#include "storage/sqlite_db.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

#ifdef VARNOX_SANITIZED
constexpr std::size_t kHugeMessage = 20u << 20;
#else
constexpr std::size_t kHugeMessage = 100u << 20;
#endif

std::string Message(const std::string& from, const std::string& subject, const std::string& body) {
  return "From: " + from + "\nTo: me@example.org\nSubject: " + subject +
         "\nContent-Type: text/plain; charset=us-ascii\n\n" + body + "\n";
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() : storage(root.path(), clock, table) {
    storage.InitStorage(1, nullptr);
    InitMailHeaderParser();
    CreateHtmlConverter();
  }
  // A Maildir store under Mail/.
  std::string Store(const std::string& name) {
    const std::string path = root / ("Mail/" + name);
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(path + "/" + sub);
    return path;
  }
  // Into cur/ unless file names its subfolder ("new/x").
  void Deliver(const std::string& store, const std::string& file, const std::string& bytes) {
    const std::string path = store + (file.find('/') == std::string::npos ? "/cur/" : "/") + file;
    ASSERT_TRUE(WriteFile(path, bytes));
    const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  // A sender rule when message is empty, else a message rule; loaded at once.
  void Rule(const std::string& sender, const std::string& message, float certainty = 90.0f) {
    ASSERT_TRUE(storage.rules.AddRule(sender, message, "", 0, message.empty(), certainty));
    ASSERT_TRUE(storage.rules.LoadRules());
  }
  // One pass of the scan, made and logged on at the first.
  StoreScan& Pass() {
    if (!scan) {
      scan = std::make_unique<StoreScan>(root / "Mail", storage.messages, storage.rules, table,
                                         gate, ScanHooks{}, options);
      EXPECT_TRUE(scan->LogonMailStore());
    }
    EXPECT_TRUE(scan->RunPass());
    return *scan;
  }
  std::string LogPath(const std::string& store) {
    return storage.locations.DataFolder() + store + ".db";
  }
  std::vector<std::string> Rows(const std::string& store) {
    return Query(LogPath(store), "SELECT Id, Subject, Status FROM Msg ORDER BY Id;");
  }
  // Every file below the store, sorted, joined by blanks.
  std::string Files(const std::string& store) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(store))
      if (e.is_regular_file()) names.insert(fs::relative(e.path(), store).string());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  }

  TempRoot root;
  FixedClock clock{1700000000};
  RuleTable table;
  Storage storage;
  PauseGate gate{false};
  StoreScanOptions options;
  std::unique_ptr<StoreScan> scan;
};

TEST_F(ScanTest, FirstPassLogsEveryMessageAndMovesSpam) {
  const std::string inbox = Store("Personal");
  Deliver(inbox, "1.a.host:2,S", Message("Ann <ann@example.org>", "Lunch", "quarterly numbers"));
  Deliver(inbox, "2.b.host:2,", Message("Promo <deals@spam.example>", "Deals", "Buy now"));
  Deliver(
      inbox, "3.c.host",
      Message("Bob <bob@example.org>", "Cheap pills", "cheap pills online pharmacy order today"));
  Rule("spam.example", "");
  Rule("", "cheap pills online pharmacy order");
  const StoreReport report = Pass().Reports().at(0);
  EXPECT_EQ(scan->GetStoreCount(), 1);
  EXPECT_EQ(std::to_string(report.examined) + " " + std::to_string(report.logged) + " " +
                std::to_string(report.moved),
            "3 3 2");
  EXPECT_EQ(Files(inbox),
            ".Spam/cur/2.b.host:2, .Spam/cur/3.c.host .Spam/maildirfolder cur/1.a.host:2,S");
  EXPECT_EQ(Rows("Personal"),
            (std::vector<std::string>{"1|Lunch|0", "2|Deals|1", "3|Cheap pills|1"}));

  // The same text arriving again is known by its fingerprint: not logged
  // twice, and filed as its row says.
  Deliver(inbox, "4.d.host", Message("Promo <deals@spam.example>", "Deals", "Buy now"));
  scan->RescanRequest = 1;
  Pass();
  EXPECT_EQ(Rows("Personal").size(), 3u);
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/4.d.host"));

  // A rule added later turns a logged message into spam on a forced pass; a
  // message logged as spam is moved even when no rule matches it any more.
  Rule("", "quarterly numbers");
  for (int round = 0; round < 2; ++round) {
    scan->RescanRequest = 1;
    Pass();
    EXPECT_EQ(Rows("Personal").at(0), "1|Lunch|1") << round;
    EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/1.a.host:2,S")) << round;
    fs::rename(inbox + "/.Spam/cur/1.a.host:2,S", inbox + "/cur/1.a.host:2,S");
    storage.rules.DeleteRule("", "quarterly numbers");
  }
}

TEST_F(ScanTest, StoresAreChosenByName) {
  Store("sms");
  Store("ActiveSync");
  Store("Spam_0");  // its log would be mistaken for the SMS log
  Store("B");
  Store("b");  // same name but for case: only the first is watched
  for (int i = 0; i < 70; ++i) Store("s" + std::to_string(100 + i));
  testing::internal::CaptureStderr();
  Pass();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Spam_0"), std::string::npos);
  EXPECT_EQ(scan->GetStoreCount(), kMaxStores);
  std::string name, names;
  int count = 0;
  for (; scan->GetStoreName(count, name); ++count) names += name + " ";
  EXPECT_EQ(count, kMaxStores);
  EXPECT_TRUE(names.starts_with("B ")) << names;
  for (const char* left : {"sms ", "ActiveSync ", "b "})
    EXPECT_EQ(names.find(left), std::string::npos) << left;
  EXPECT_FALSE(scan->GetStoreName(-1, name));
}

// Garbage, empty, NUL-cut, badly encoded and huge messages are each examined
// and kept byte for byte; spam among them still goes to .Spam, and where no
// spam folder can be made it stays in the inbox with its row saying spam.
TEST_F(ScanTest, HostileHugeAndUnfileableMessagesAreHandled) {
  const std::string inbox = Store("Junk"), blocked = Store("Blocked");
  std::string garbage;
  for (unsigned i = 0; i < 200000; ++i) garbage.push_back(static_cast<char>((i * 7919u) % 256));
  Deliver(inbox, "1.g.host", garbage);
  Deliver(inbox, "2.e.host", "");
  // The text ends at its first NUL: the rule on what follows does not match.
  Deliver(inbox, "3.n.host",
          std::string("Subject: nul\nContent-Type: text/plain\n\nbefore\0after", 51));
  Deliver(inbox, "4.u.host", "From: undisclosed-recipients:;\nSubject: \xff\xfe bad\n\nx\n");
  Deliver(inbox, "5.q.host", "Subject: =?utf-8?B?not base64!?=\n\nbody\n");
  std::string body;
  body.reserve(kHugeMessage + 100);
  while (body.size() < kHugeMessage) body += "Limited offer, act now and win a free cruise\n";
  Deliver(inbox, "6.h.host", Message("big@example.org", "Huge", body));
  body.clear();
  ASSERT_TRUE(WriteFile(blocked + "/.Spam", "a file in the way"));
  Deliver(blocked, "1.y.host", Message("x@spam.example", "Hi", "text"));
  Rule("", "after", 50.0f);
  Rule("", "limited offer act now win free cruise");
  Rule("spam.example", "");
  for (const StoreReport& r : Pass().Reports())
    EXPECT_EQ(r.examined, r.name == "Junk" ? 6 : 1) << r.name;
  EXPECT_EQ(Files(inbox),
            ".Spam/cur/6.h.host .Spam/maildirfolder cur/1.g.host cur/2.e.host cur/3.n.host "
            "cur/4.u.host cur/5.q.host");
  EXPECT_GT(fs::file_size(inbox + "/.Spam/cur/6.h.host"), kHugeMessage);
  EXPECT_EQ(Query(LogPath("Junk"), "SELECT Subject FROM Msg WHERE Status = 1 ORDER BY Id;"),
            std::vector<std::string>{"Huge"});
  EXPECT_EQ(Rows("Blocked"), std::vector<std::string>{"1|Hi|1"});
  EXPECT_EQ(Files(blocked), ".Spam cur/1.y.host");
}

TEST(PauseGateTest, PauseWaitsForASafePointAndStopEndsSleeps) {
  PauseGate gate(true);
  std::atomic<int> steps{0};
  std::atomic<bool> inStep{false}, finish{false};
  gate.WorkerStarted();
  std::thread worker([&] {
    while (gate.SafePoint()) {
      inStep = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++steps;
      inStep = false;
      // At the finish a sleep of hours, which only the stop ends (else the
      // test hangs).
      if (!gate.Sleep(finish ? std::chrono::hours(1) : std::chrono::milliseconds(1))) break;
    }
    gate.WorkerEnded();
  });
  while (steps < 3) std::this_thread::yield();
  gate.Pause();
  EXPECT_FALSE(inStep);  // paused means standing between steps
  const int at = steps;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(steps, at);
  gate.Resume();
  while (steps < at + 3) std::this_thread::yield();
  finish = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // into the long sleep
  gate.Stop();
  worker.join();
}

TEST_F(ScanTest, MessagesRenamedOrGoneDuringTheWalkAreHandledOrSkipped) {
  const std::string inbox = Store("Moving");
  Deliver(inbox, "1.r.host", Message("r@example.org", "Renamed", "renamed by a client"));
  Deliver(inbox, "2.g.host", Message("g@example.org", "Gone", "deleted by a client"));
  Deliver(inbox, "3.s.host", Message("s@spam.example", "Spam", "moved later"));
  // Files sharing their unique part are each a row; the spam one of the
  // two in cur/ gets a new flag meanwhile.
  Deliver(inbox, "4.t.host:2,", Message("t@spam.example", "Twin spam", "twin one"));
  Deliver(inbox, "4.t.host:2,S", Message("t@example.org", "Twin", "twin two"));
  Deliver(inbox, "new/5.u.host", Message("u@spam.example", "New spam", "new one"));
  Deliver(inbox, "5.u.host:2,S", Message("u@example.org", "Seen", "seen one"));
  Rule("spam.example", "");
  StoreRecord record("Moving", inbox);
  record.hasSpamFolder = record.store.OpenSpamFolder();
  storage.messages.MAPICreateLog("Moving");
  std::vector<MailRow> rows;
  ASSERT_TRUE(record.store.ContentsTable(rows));
  ASSERT_EQ(rows.size(), 7u);
  // A mail client acts between the listing and the processing.
  fs::rename(inbox + "/cur/4.t.host:2,", inbox + "/cur/4.t.host:2,F");
  fs::rename(inbox + "/cur/1.r.host", inbox + "/cur/1.r.host:2,S");
  fs::remove(inbox + "/cur/2.g.host");
  fs::rename(inbox + "/cur/3.s.host", inbox + "/new/3.s.host");
  MessageProcessor processor(storage.messages, table, nullptr);
  for (const MailRow& row : rows) EXPECT_EQ(processor.ProcessMessage(record, row), 1);
  EXPECT_EQ(Query(LogPath("Moving"), "SELECT Subject, Status FROM Msg ORDER BY Subject;"),
            (std::vector<std::string>{"New spam|1", "Renamed|0", "Seen|0", "Spam|1", "Twin|0",
                                      "Twin spam|1"}));
  EXPECT_EQ(Files(inbox),
            ".Spam/cur/4.t.host:2,F .Spam/maildirfolder .Spam/new/3.s.host .Spam/new/5.u.host "
            "cur/1.r.host:2,S cur/4.t.host:2,S cur/5.u.host:2,S");
}

TEST_F(ScanTest, PeriodicPassesHandleOnlyUnknownAndOnTheSixtiethUnreadRows) {
  const std::string inbox = Store("Periodic");
  Deliver(inbox, "1.read.host:2,S", Message("a@example.org", "Read", "one"));
  Deliver(inbox, "new/2.unread.host", Message("b@example.org", "Unread", "two"));
  // Which rows each kind of pass hands over, without the memo that lets
  // rows known to be normal be skipped on any pass.
  options.memo = false;
  EXPECT_EQ(Pass().Reports()[0].examined, 2);  // first pass: both
  while (scan->PassCount() < 60) Pass();
  EXPECT_EQ(scan->Reports()[0].examined, 2);   // nothing new, known rows skipped on 10th passes
  EXPECT_EQ(Pass().Reports()[0].examined, 3);  // the 60th: the unread row again
  EXPECT_EQ(Rows("Periodic").size(), 2u);
}

// Spam leaves the inbox only once its row is logged: a log that cannot be
// written keeps it there, and the next pass after the fault logs and files it.
TEST_F(ScanTest, SpamIsFiledOnlyOnceItsRowIsLogged) {
  Rule("spam.example", "");
  const std::string garbage = Store("Garbage"), locked = Store("Locked");
  Garble(LogPath("Garbage"));
  testing::internal::CaptureStderr();
  Pass();           // the logs are made (the garbage one cannot be)
  Database locker;  // a second connection holding the write lock
  std::string error;
  ASSERT_EQ(locker.Open(LogPath("Locked"), error), 0) << error;
  ASSERT_EQ(locker.Exec("BEGIN EXCLUSIVE;"), 0);
  for (const std::string& inbox : {garbage, locked})
    Deliver(inbox, "1.s.host", Message("x@spam.example", "Spam", "buy"));
  Pass();
  for (const std::string& inbox : {garbage, locked})
    EXPECT_EQ(Files(inbox), ".Spam/maildirfolder cur/1.s.host");
  EXPECT_TRUE(Rows("Locked").empty());

  // The faults go: the lock ends, and a sound log takes the garbage's place
  // (in the same file, which the scan's connection holds open).
  ASSERT_EQ(locker.Exec("COMMIT;"), 0);
  const std::string fresh = root / "fresh.db";
  // Out of WAL mode, so the file holds it all.
  Exec(fresh, MsgCreateStatement() + "PRAGMA journal_mode=DELETE;");
  ASSERT_TRUE(WriteFile(LogPath("Garbage"), ReadAll(fresh)));
  Pass();
  testing::internal::GetCapturedStderr();
  for (const char* store : {"Garbage", "Locked"}) {
    EXPECT_EQ(Rows(store), std::vector<std::string>{"1|Spam|1"}) << store;
    EXPECT_TRUE(fs::exists(root / ("Mail/" + std::string(store) + "/.Spam/cur/1.s.host"))) << store;
  }
}

// A store or the whole mail folder that vanishes is said once (again after
// it came back and went again), the other stores go on; a store linked in
// later is said to be watched after a restart.
TEST_F(ScanTest, VanishedFoldersAndNewStoresAreSaidOnce) {
  const std::string a = Store("A"), b = Store("B");
  Pass();
  const std::string away = root / "away";
  const std::string aGone =
      "varnox: the store A (" + a + ") is gone; the scan goes on with the others\n";
  const struct {
    std::function<void()> act;
    std::string said;  // the one line said, or empty for none
  } steps[] = {
      {[&] {
         fs::rename(a, away);
         Deliver(b, "1.b.host", Message("b@example.org", "In B", "text"));
       },
       aGone},
      {[] {}, ""},
      {[&] { fs::rename(away, a); }, ""},
      {[&] { fs::rename(a, away); }, aGone},
      {[&] { Store("C"); },
       "varnox: new store C in the mail folder; it is watched after a restart\n"},
      {[] {}, ""},
      {[&] { fs::rename(root / "Mail", root / "Mail.away"); },
       "varnox: the mail folder " + root / "Mail" +
           " is gone; its stores are not watched until it is back\n"},
      {[] {}, ""},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    steps[i].act();
    testing::internal::CaptureStderr();
    Pass();
    std::string said;
    std::istringstream lines(testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("varnox:")) said += line + "\n";
    EXPECT_EQ(said, steps[i].said) << "step " << i;
  }
  EXPECT_EQ(Rows("B"), std::vector<std::string>{"1|In B|0"});
}

}  // namespace
}  // namespace varnox
