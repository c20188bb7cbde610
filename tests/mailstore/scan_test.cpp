// The scan and the processing of messages on real Maildirs, real logs and
// real rule databases in temporary roots.
#include "mailstore/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
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
using testsupport::Query;
using testsupport::ReadAll;
using testsupport::TempRoot;
using testsupport::WriteFile;

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
  // A Maildir store under Mail/ with the given files in cur/.
  std::string Store(const std::string& name) {
    const std::string path = root / ("Mail/" + name);
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(path + "/" + sub);
    return path;
  }
  // Into cur/ unless file names its subfolder ("new/x").
  void Deliver(const std::string& store, const std::string& file, const std::string& bytes,
               std::time_t mtime = 1700000000) {
    const std::string path = store + (file.find('/') == std::string::npos ? "/cur/" : "/") + file;
    ASSERT_TRUE(WriteFile(path, bytes));
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  std::unique_ptr<StoreScan> Scan(StoreScanOptions options = {}) {
    return std::make_unique<StoreScan>(root / "Mail", storage.messages, storage.rules, table, gate,
                                       ScanHooks{}, options);
  }
  std::string LogPath(const std::string& store) {
    return storage.locations.DataFolder() + store + ".db";
  }
  std::vector<std::string> Rows(const std::string& store) {
    return Query(LogPath(store), "SELECT Id, Subject, Status FROM Msg ORDER BY Id;");
  }
  // Subject and status of every row, in subject order.
  std::vector<std::string> Verdicts(const std::string& store) {
    return Query(LogPath(store), "SELECT Subject, Status FROM Msg ORDER BY Subject;");
  }

  TempRoot root;
  FixedClock clock{1700000000};
  RuleTable table;
  Storage storage;
  PauseGate gate{false};
};

TEST_F(ScanTest, FirstPassLogsEveryMessageAndMovesSpam) {
  const std::string inbox = Store("Personal");
  Deliver(inbox, "1.a.host:2,S", Message("Ann <ann@example.org>", "Lunch", "See you at noon"));
  Deliver(inbox, "2.b.host:2,", Message("Promo <deals@spam.example>", "Deals", "Buy now"));
  Deliver(
      inbox, "3.c.host",
      Message("Bob <bob@example.org>", "Cheap pills", "cheap pills online pharmacy order today"));
  ASSERT_TRUE(storage.rules.AddRule("spam.example", "", "", 0, 1, 90.0f));
  ASSERT_TRUE(storage.rules.AddRule("", "cheap pills online pharmacy order", "", 0, 0, 90.0f));
  storage.rules.LoadRules();

  auto scan = Scan();
  ASSERT_TRUE(scan->LogonMailStore());
  ASSERT_TRUE(scan->RunPass());
  ASSERT_EQ(scan->GetStoreCount(), 1);
  ASSERT_EQ(scan->Reports().size(), 1u);
  EXPECT_EQ(scan->Reports()[0].examined, 3);
  EXPECT_EQ(scan->Reports()[0].logged, 3);
  EXPECT_EQ(scan->Reports()[0].moved, 2);
  EXPECT_TRUE(fs::exists(inbox + "/cur/1.a.host:2,S"));
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/2.b.host:2,"));
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/3.c.host"));
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/maildirfolder"));
  const auto rows = Rows("Personal");
  ASSERT_EQ(rows.size(), 3u);
  int spam = 0;
  for (const auto& r : rows) spam += r.back() == '1';
  EXPECT_EQ(spam, 2);

  // The same text arriving again is known by its fingerprint: not logged twice.
  Deliver(inbox, "4.d.host", Message("Promo <deals@spam.example>", "Deals", "Buy now"));
  scan->RescanRequest = 1;
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(Rows("Personal").size(), 3u);
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/4.d.host"));  // its row says spam
}

TEST_F(ScanTest, LoggedMessagesFollowTheirStatus) {
  const std::string inbox = Store("Work");
  Deliver(inbox, "1.x.host", Message("a@example.org", "Report", "quarterly numbers attached"));
  auto scan = Scan();
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());
  ASSERT_EQ(Rows("Work"), std::vector<std::string>{"1|Report|0"});

  // A rule added later turns the logged message into spam on a forced pass.
  ASSERT_TRUE(storage.rules.AddRule("", "quarterly numbers attached", "", 0, 0, 90.0f));
  storage.rules.LoadRules();
  scan->RescanRequest = 1;
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(Rows("Work"), std::vector<std::string>{"1|Report|1"});
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/1.x.host"));

  // A message whose logged status is spam is moved even when no rule matches now.
  fs::rename(inbox + "/.Spam/cur/1.x.host", inbox + "/cur/1.x.host");
  {
    std::lock_guard<std::mutex> guard(table.lock);
    ClearRuleTable(table);
  }
  storage.rules.DeleteRule("", "quarterly numbers attached");
  scan->RescanRequest = 1;
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(Rows("Work"), std::vector<std::string>{"1|Report|1"});
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/1.x.host"));
}

TEST_F(ScanTest, StoresAreChosenByName) {
  Store("sms");
  Store("ActiveSync");
  Store("Spam_0");  // its log would be mistaken for the SMS log
  Store("B");
  Store("b");  // same name but for case: only the first is watched
  for (int i = 0; i < 70; ++i) Store("s" + std::to_string(100 + i));
  auto scan = Scan();
  ASSERT_TRUE(scan->LogonMailStore());
  testing::internal::CaptureStderr();
  scan->EnumerateStores();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Spam_0"), std::string::npos);
  ASSERT_EQ(scan->GetStoreCount(), kMaxStores);
  std::string name;
  ASSERT_TRUE(scan->GetStoreName(0, name));
  EXPECT_EQ(name, "B");
  for (int i = 0; i < scan->GetStoreCount(); ++i) {
    scan->GetStoreName(i, name);
    EXPECT_NE(name, "sms");
    EXPECT_NE(name, "ActiveSync");
    EXPECT_NE(name, "b");
  }
  EXPECT_FALSE(scan->GetStoreName(kMaxStores, name));
  EXPECT_FALSE(scan->GetStoreName(-1, name));
}

TEST_F(ScanTest, SpamStaysInTheInboxWhenNoSpamFolderCanBeMade) {
  const std::string inbox = Store("Blocked");
  ASSERT_TRUE(WriteFile(inbox + "/.Spam", "a file in the way"));
  Deliver(inbox, "1.y.host", Message("x@spam.example", "Hi", "text"));
  ASSERT_TRUE(storage.rules.AddRule("spam.example", "", "", 0, 1, 90.0f));
  storage.rules.LoadRules();
  auto scan = Scan();
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(Rows("Blocked"), std::vector<std::string>{"1|Hi|1"});
  EXPECT_TRUE(fs::exists(inbox + "/cur/1.y.host"));
}

TEST_F(ScanTest, HostileMessagesDoNotStopTheScan) {
  const std::string inbox = Store("Junk");
  std::string garbage;
  for (unsigned i = 0; i < 200000; ++i) garbage.push_back(static_cast<char>((i * 7919u) % 256));
  Deliver(inbox, "1.g.host", garbage);
  Deliver(inbox, "2.e.host", "");
  Deliver(inbox, "3.n.host", std::string("Subject: nul\n\nbefore\0after", 26));
  Deliver(inbox, "4.u.host", "From: undisclosed-recipients:;\nSubject: \xff\xfe bad\n\nx\n");
  Deliver(inbox, "5.q.host", "Subject: =?utf-8?B?not base64!?=\n\nbody\n");
  ASSERT_TRUE(storage.rules.AddRule("", "before", "", 0, 0, 50.0f));
  storage.rules.LoadRules();
  auto scan = Scan();
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(scan->Reports()[0].examined, 5);
  // Every file is still somewhere, byte for byte.
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(inbox))
    files += e.is_regular_file() && e.path().filename() != "maildirfolder";
  EXPECT_EQ(files, 5u);
}

TEST(PauseGateTest, PauseWaitsForASafePointAndStopEndsSleeps) {
  PauseGate gate(true);
  std::atomic<int> steps{0};
  std::atomic<bool> inStep{false};
  gate.WorkerStarted();
  std::thread worker([&] {
    while (gate.SafePoint()) {
      inStep = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++steps;
      inStep = false;
      if (!gate.Sleep(std::chrono::milliseconds(1))) break;
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

  // A long sleep ends at once on stop.
  const auto start = std::chrono::steady_clock::now();
  std::thread sleeper([&] { gate.Sleep(std::chrono::seconds(30)); });
  gate.Stop();
  sleeper.join();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace varnox

namespace varnox {
namespace {

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
  ASSERT_TRUE(storage.rules.AddRule("spam.example", "", "", 0, 1, 90.0f));
  storage.rules.LoadRules();
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
  EXPECT_EQ(Verdicts("Moving"), (std::vector<std::string>{"New spam|1", "Renamed|0", "Seen|0",
                                                          "Spam|1", "Twin|0", "Twin spam|1"}));
  for (const char* file : {"cur/1.r.host:2,S", ".Spam/new/3.s.host", ".Spam/cur/4.t.host:2,F",
                           "cur/4.t.host:2,S", ".Spam/new/5.u.host", "cur/5.u.host:2,S"})
    EXPECT_TRUE(fs::exists(inbox + "/" + file)) << file;
}

}  // namespace
}  // namespace varnox

namespace varnox {
namespace {

TEST_F(ScanTest, PeriodicPassesHandleOnlyUnknownAndOnTheSixtiethUnreadRows) {
  const std::string inbox = Store("Periodic");
  Deliver(inbox, "1.read.host:2,S", Message("a@example.org", "Read", "one"));
  ASSERT_TRUE(WriteFile(inbox + "/new/2.unread.host", Message("b@example.org", "Unread", "two")));
  // Which rows each kind of pass hands over, without the memo that lets
  // rows known to be normal be skipped on any pass.
  auto scan = Scan(StoreScanOptions{.memo = false});
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());  // first pass: both
  EXPECT_EQ(scan->Reports()[0].examined, 2);
  while (scan->PassCount() < 60) ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(scan->Reports()[0].examined, 2);  // nothing new, known rows skipped on 10th passes
  ASSERT_TRUE(scan->RunPass());               // the 60th: the unread row again
  EXPECT_EQ(scan->Reports()[0].examined, 3);
  EXPECT_EQ(Rows("Periodic").size(), 2u);
}

}  // namespace
}  // namespace varnox

namespace varnox {
namespace {

#ifdef VARNOX_SANITIZED
constexpr std::size_t kHugeMessage = 20u << 20;
#else
constexpr std::size_t kHugeMessage = 100u << 20;
#endif

TEST_F(ScanTest, AHundredMegabyteMessageIsLoggedAndFiled) {
  const std::string inbox = Store("Huge");
  std::string body;
  body.reserve(kHugeMessage + 100);
  const std::string line = "Limited offer, act now and win a free cruise to the islands\n";
  while (body.size() < kHugeMessage) body += line;
  Deliver(inbox, "1.h.host", Message("big@spam.example", "Huge", body));
  ASSERT_TRUE(storage.rules.AddRule("", "limited offer act now win free cruise", "", 0, 0, 90.0f));
  storage.rules.LoadRules();
  auto scan = Scan();
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());
  EXPECT_EQ(Rows("Huge"), std::vector<std::string>{"1|Huge|1"});
  EXPECT_TRUE(fs::exists(inbox + "/.Spam/cur/1.h.host"));
  EXPECT_GT(fs::file_size(inbox + "/.Spam/cur/1.h.host"), kHugeMessage);
}

}  // namespace
}  // namespace varnox

namespace varnox {
namespace {

// Spam leaves the inbox only once its row is logged: a log that cannot be
// written keeps it there, and the next pass after the fault logs and files it.
TEST_F(ScanTest, SpamIsFiledOnlyOnceItsRowIsLogged) {
  ASSERT_TRUE(storage.rules.AddRule("spam.example", "", "", 0, 1, 90.0f));
  storage.rules.LoadRules();
  const std::string garbage = Store("Garbage"), locked = Store("Locked");
  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919u % 251u);
  ASSERT_TRUE(WriteFile(LogPath("Garbage"), noise));
  auto scan = Scan();
  scan->LogonMailStore();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(scan->RunPass());  // the logs are made (the garbage one cannot be)
  Database locker;               // a second connection holding the write lock
  std::string error;
  ASSERT_EQ(locker.Open(LogPath("Locked"), error), 0) << error;
  ASSERT_EQ(locker.Exec("BEGIN EXCLUSIVE;"), 0);
  for (const std::string& inbox : {garbage, locked})
    Deliver(inbox, "1.s.host", Message("x@spam.example", "Spam", "buy"));
  ASSERT_TRUE(scan->RunPass());
  for (const std::string& inbox : {garbage, locked})
    EXPECT_TRUE(fs::exists(inbox + "/cur/1.s.host")) << inbox;
  EXPECT_TRUE(Rows("Locked").empty());

  // The faults go: the lock ends, and a sound log takes the garbage's place
  // (in the same file, which the scan's connection holds open).
  ASSERT_EQ(locker.Exec("COMMIT;"), 0);
  {
    const std::string fresh = root / "fresh.db";
    // Out of WAL mode, so the file holds it all.
    testsupport::Exec(fresh, MsgCreateStatement() + "PRAGMA journal_mode=DELETE;");
    ASSERT_TRUE(WriteFile(LogPath("Garbage"), ReadAll(fresh)));
  }
  ASSERT_TRUE(scan->RunPass());
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
  auto scan = Scan();
  scan->LogonMailStore();
  ASSERT_TRUE(scan->RunPass());
  const std::string away = root / "away";
  struct Step {
    std::function<void()> act;
    std::string said;  // the one line said, or empty for none
  };
  const Step steps[] = {
      {[&] {
         fs::rename(a, away);
         Deliver(b, "1.b.host", Message("b@example.org", "In B", "text"));
       },
       "varnox: the store A (" + a + ") is gone; the scan goes on with the others\n"},
      {[] {}, ""},
      {[&] { fs::rename(away, a); }, ""},
      {[&] { fs::rename(a, away); },
       "varnox: the store A (" + a + ") is gone; the scan goes on with the others\n"},
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
    ASSERT_TRUE(scan->RunPass());
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
