// Rules and message logs that cannot be read, met with real damaged files:
// what stays in force, what waits, and what is said.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>

#include "rulehook/spool_watcher.h"
#include "storage/classify.h"
#include "storage/init_storage.h"
#include "storage/recheck.h"
#include "storage/rule_store.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// A rules database of its own, made afresh with one sender rule.
void WriteRules(const std::string& db, const std::string& sender) {
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix);
  Exec(db, RulesCreateStatement() + "INSERT INTO Rules VALUES (1, '" + sender +
               "', '', '', '', 0, 1, 90);");
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto i = text.find(part); i != std::string::npos; i = text.find(part, i + 1)) ++n;
  return n;
}

class Failures : public ::testing::Test {
 protected:
  Failures() : storage(root.path(), clock, table) {
    storage.InitStorage(1, nullptr);
    data = storage.locations.DataFolder();
  }
  TempRoot root;
  FixedClock clock{1765012345};
  RuleTable table;
  Storage storage;
  std::string data;
};

TEST_F(Failures, AReloadThatFailsKeepsTheRulesInForce) {
  WriteRules(data + kRulesFile, "spam.example");
  {
    RuleStore first(storage.locations, table);  // a connection on the new file
    ASSERT_TRUE(first.LoadRules());
  }
  ASSERT_EQ(Classify(table, "a@spam.example", ""), 1);

  // A later load, on a connection of its own, meets a damaged file.
  Garble(data + kRulesFile);
  RuleStore later(storage.locations, table);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(later.LoadRules());
  EXPECT_FALSE(later.LoadRules());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Classify(table, "a@spam.example", ""), 1);
  EXPECT_TRUE(later.RulesLoaded());
  EXPECT_EQ(Count(said, data + kRulesFile), 1u) << said;  // said once, with the path

  // Once the file is sound again the next load reads it afresh.
  WriteRules(data + kRulesFile, "other.example");
  EXPECT_TRUE(later.LoadRules());
  EXPECT_EQ(Classify(table, "a@spam.example", ""), 0);
  EXPECT_EQ(Classify(table, "b@other.example", ""), 1);
}

TEST_F(Failures, TheCompanionTakesNoSmsBeforeTheRulesCanBeRead) {
  const std::string spool = root / "spool";
  fs::create_directories(spool + "/incoming");
  ASSERT_TRUE(WriteFile(spool + "/incoming/GSM1", "From: 491721234567\nAlphabet: ISO\n\nWin"));
  Garble(data + kRulesFile);
  rulehook::SpoolWatcher watcher(data, spool, clock);
  testing::internal::CaptureStderr();
  for (int look = 0; look < 3; ++look) EXPECT_EQ(watcher.Look().logged, 0);
  const std::string said = testing::internal::GetCapturedStderr();
  // One line, with the path, however often the load is tried.
  EXPECT_EQ(Count(said, data + kRulesFile), 1u) << said;
  EXPECT_EQ(Count(said, "\n"), 1u) << said;
  EXPECT_EQ(FilesUnder(spool + "/incoming").size(), 1u);
  EXPECT_TRUE(Query(data + kSmsLogFile, "SELECT Id FROM Spam;").empty());

  // The rules readable again: the next looks take the SMS, as spam.
  WriteRules(data + kRulesFile, "+4917");
  watcher.Look();
  EXPECT_EQ(watcher.Look().spam, 1);
  EXPECT_EQ(Query(data + kSmsLogFile, "SELECT Id FROM Spam;").size(), 1u);
}

// Every failed call on a damaged log is told once, by path and SQLite's
// message, never with the message itself.
TEST_F(Failures, ADamagedMessageLogIsToldOnceWithoutTheMessage) {
  const std::string log = data + "Home.db";
  Garble(log);
  MessageLog& logs = storage.messages;
  testing::internal::CaptureStderr();
  logs.MAPICreateLog("Home");
  for (int i = 0; i < 3; ++i) {
    const std::string body = "private words " + std::to_string(i);
    int id = 0, status = 0;
    std::string tokens;
    EXPECT_FALSE(logs.MAPIExists("Home", body, id, status, tokens) ||
                 logs.MAPIAdd("Home", "Ann", "ann@example.org", "s", body, body, body, "", 0, "d",
                              "t", id) ||
                 logs.MAPIUpdate("Home", 1, 1));
  }
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count(text, "private words"), 0u) << text;
  EXPECT_EQ(Count(text, log), 1u) << text;
  EXPECT_NE(text.find("not a database"), std::string::npos) << text;
  // The program cannot mend it: the message says what the user does.
  EXPECT_NE(text.find("move it away"), std::string::npos) << text;
  EXPECT_EQ(logs.FailedLogs(), std::vector<std::string>{log});

  // The re-check names it too, and goes on with the logs it can read.
  std::vector<RecheckCount> counts;
  ASSERT_TRUE(RecheckLogs(storage.locations, logs, storage.smsLog, storage.rules, table, &counts));
  std::string named;
  for (const RecheckCount& c : counts)
    named += c.path.substr(data.size()) + (c.error.empty() ? " read; " : " " + c.error + "; ");
  EXPECT_NE(named.find("Home.db file is not a database;"), std::string::npos) << named;
  EXPECT_NE(named.find(std::string(kSmsLogFile) + " read;"), std::string::npos) << named;
}

// A log that could not be made when its store was found is made at the next
// message once it can be: the store is not left without a log until a restart.
TEST_F(Failures, ALogThatCouldNotBeMadeIsMadeAtItsNextUse) {
  const std::string log = data + "Late.db";
  fs::create_directory(log);  // in the way of the file, as a read-only folder would be
  MessageLog logs(storage.locations);
  testing::internal::CaptureStderr();
  logs.MAPICreateLog("Late");
  int id = 0;
  EXPECT_FALSE(
      logs.MAPIAdd("Late", "Ann", "ann@example.org", "s", "b", "b", "b", "", 0, "d", "t", id));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count(said, log + ") cannot be used"), 1u) << said;

  fs::remove(log);
  EXPECT_TRUE(
      logs.MAPIAdd("Late", "Ann", "ann@example.org", "s", "b", "b", "b", "", 0, "d", "t", id));
  EXPECT_EQ(Query(log, "SELECT count(*) FROM Msg;"), std::vector<std::string>{"1"});
}

// A write that fails is told with SQLite's reason for it, not with what an
// earlier statement or the clean-up after the failure said.
TEST_F(Failures, AFailedWriteIsToldWithItsOwnReason) {
  const std::string log = data + "Home.db";
  MessageLog(storage.locations).MAPICreateLog("Home");
  const std::string big(300000, 'x');
  const struct {
    const char* fault;
    std::function<std::function<void()>()> arrange;  // returns the undoing
    const char* reason;
  } cases[] = {
      {"another process holds the log",
       [&] {
         auto holder = std::make_shared<Database>();
         std::string error;
         holder->Open(log, error);
         holder->Exec("BEGIN EXCLUSIVE;");
         return std::function<void()>([holder] { holder->Exec("COMMIT;"); });
       },
       "database is locked"},
      // A file-size limit, with SIGXFSZ ignored: writes fail with EFBIG, as
      // on a full disk.
      {"the disk is full",
       [&] {
         rlimit old{};
         getrlimit(RLIMIT_FSIZE, &old);
         rlimit small = old;
         small.rlim_cur = fs::file_size(log) + 65536;
         setrlimit(RLIMIT_FSIZE, &small);
         const auto handler = std::signal(SIGXFSZ, SIG_IGN);
         return std::function<void()>([old, handler] {
           setrlimit(RLIMIT_FSIZE, &old);
           std::signal(SIGXFSZ, handler);
         });
       },
       "disk I/O error"},
  };
  for (const auto& c : cases) {
    MessageLog logs(storage.locations);
    const auto undo = c.arrange();
    testing::internal::CaptureStderr();
    logs.MAPICreateLog("Home");
    // Two messages, each looked up and then added, as the scan does.
    for (int i = 0; i < 2; ++i) {
      const std::string body = big + std::to_string(i);
      int id = 0, status = 0;
      std::string tokens;
      EXPECT_FALSE(logs.MAPIExists("Home", body, id, status, tokens));
      EXPECT_FALSE(logs.MAPIAdd("Home", "Ann", "ann@example.org", "s", body, body, body, "", 0, "d",
                                "t", id))
          << c.fault;
    }
    const std::string said = testing::internal::GetCapturedStderr();
    undo();
    EXPECT_EQ(Count(said, log), 1u) << c.fault << ": told once: " << said;
    EXPECT_NE(said.find(log + ") cannot be used: " + c.reason), std::string::npos)
        << c.fault << ": " << said;
    EXPECT_EQ(said.find("already exists"), std::string::npos) << c.fault << ": " << said;
    EXPECT_EQ(said.find("no transaction"), std::string::npos) << c.fault << ": " << said;
  }
  // Once the fault is gone, the same message is logged.
  int id = 0;
  EXPECT_TRUE(
      MessageLog(storage.locations)
          .MAPIAdd("Home", "Ann", "ann@example.org", "s", big, big, big, "", 0, "d", "t", id));
}

}  // namespace
}  // namespace varnox
