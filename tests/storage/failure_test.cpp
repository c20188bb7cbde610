// Rules and message logs that cannot be read, met with real damaged files:
// what stays in force, what waits, and what is said.
#include <gtest/gtest.h>

#include <filesystem>

#include "rulehook/spool_watcher.h"
#include "storage/classify.h"
#include "storage/init_storage.h"
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
  EXPECT_EQ(logs.FailedLogs(), std::vector<std::string>{log});
}

}  // namespace
}  // namespace varnox
