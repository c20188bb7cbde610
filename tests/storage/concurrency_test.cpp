// Threads, and another process, working on the rule store and the SMS log at
// once. Built alone under ThreadSanitizer as well.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analysis/fixed_text.h"
#include "analysis/rules.h"
#include "storage/rule_store.h"
#include "storage/sms_log.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

using namespace testsupport;

// A data folder with both databases, found by its locations.
class Device : public DataRoot {
 public:
  Device() { ExecOnce(RulesPath(), RulesCreateStatement()); }
  std::string SmsLogPath() const { return LogPath(); }
  DataLocations& locations() { return locations_; }
};

TEST(ConcurrentRules, AddLoadAndCheckOnOneTable) {
  Device device;
  RuleTable table;
  RuleStore store(device.locations(), table);
  store.InstallLoader();
  ASSERT_TRUE(store.AddRule("spammer.example", "", "", 0, 1, 90.0f));

  RuleEntry probe;
  CopyFixedText(probe.sender, "offers@spammer.example");
  constexpr int kAdds = 200;
  std::atomic<int> failures{0};
  std::atomic<bool> adding{true};
  std::list<std::thread> threads;

  threads.emplace_back([&] {
    for (int k = 0; k < kAdds; ++k) {
      const std::string n = std::to_string(k);
      if (!store.AddRule("sender" + n, "message " + n, "first" + n, 0, 1, 90.0f)) ++failures;
      // The same rule again replaces it.
      if (!store.AddRule("sender" + n, "message " + n, "resp" + n, 1, 1, 90.0f)) ++failures;
    }
    adding = false;
  });
  threads.emplace_back([&] {
    while (adding) {
      if (!store.LoadRules()) ++failures;
      for (int i = 0; i < store.GetRuleCount(); ++i) {
        std::string sender, message, response;
        int useResponse, filterBySender, id;
        float certainty;
        // A load on another thread may shrink the table between the calls.
        if (store.GetRule(i, sender, message, response, useResponse, filterBySender, certainty,
                          id) &&
            sender.starts_with("sender")) {
          const std::string n = sender.substr(6);
          if (message != "message " + n || response != (useResponse ? "resp" + n : "first" + n))
            ++failures;
        }
      }
    }
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      // Never sees a table half loaded or half cleared. One empties it now
      // and then, so that the matcher loads it itself.
      for (int n = 1; adding; ++n) {
        if (CheckRules(table, probe) != 1) ++failures;
        std::string sender, response;
        int useResponse;
        if (store.FindRuleById(1, sender, response, useResponse) && sender != "spammer.example")
          ++failures;
        if (t == 0 && n % 64 == 0) {
          std::lock_guard<std::shared_mutex> guard(table.lock);  // the loaded entries
          ClearRuleTable(table);
        }
      }
    });
  }
  for (auto& t : threads) t.join();

  EXPECT_EQ(failures, 0);
  ASSERT_TRUE(store.LoadRules());
  EXPECT_EQ(store.GetRuleCount(), kAdds + 1);
  EXPECT_EQ(Query(device.RulesPath(), "SELECT COUNT(DISTINCT Id), MIN(Id), MAX(Id) FROM Rules;"),
            (std::vector<std::string>{"201|1|201"}));
}

TEST(ConcurrentRules, SeparateConnectionsNeverTakeTheSameId) {
  Device device;
  std::atomic<int> failures{0};
  std::list<std::thread> threads;
  for (int s = 0; s < 3; ++s) {
    threads.emplace_back([&, s] {
      RuleTable table;
      RuleStore store(device.locations(), table);
      for (int k = 0; k < 170; ++k)
        if (!store.AddRule(std::to_string(s) + "-" + std::to_string(k), "", "", 0, 1, 90.0f))
          ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Query(device.RulesPath(), "SELECT COUNT(*), COUNT(DISTINCT Id), MAX(Id) FROM Rules;"),
            (std::vector<std::string>{"510|510|510"}));
}

// Two threads list the day and one marks rows through one shared connection,
// which its failing statements close under the others' feet, while another
// process adds rows.
TEST(ConcurrentSmsLog, ThreadsShareOneConnectionWhileAnotherProcessAdds) {
  Device device;
  const std::string day = device.locations().DayText(0);
  constexpr int kRows = 200;
  // The child stands in for the companion library: its own connection,
  // opened only after the fork, one IMMEDIATE transaction per SMS.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Database db;
    std::string error;
    if (db.Open(device.SmsLogPath(), error) != SQLITE_OK) _exit(4);
    const std::string insert =
        "INSERT INTO Spam SELECT COALESCE(MAX(Id), 0) + 1, 'other', 'sms', 'sms ', '" + day +
        "', '2:00:00 PM', 0 FROM Spam;";
    int failed = 0;
    for (int k = 0; k < kRows; ++k) {
      if (!WriteTransaction(db, [&] { return db.Exec(insert) == SQLITE_OK; })) ++failed;
      usleep(1000);
    }
    _exit(failed == 0 ? 0 : 1);
  }
  SmsLog log(device.locations());
  std::atomic<int> failures{0}, loads{0};
  std::atomic<bool> running{true};
  std::set<int> marked;  // only the marking thread's
  std::list<std::thread> threads;
  testing::internal::CaptureStderr();
  threads.emplace_back([&] {
    while (running) {
      std::string text, sender, message, time;
      if (!log.LoadSmsLog(0, 1, 1, text)) ++failures;
      for (int i = 0, id = 0; i < log.GetSmsEntryCount(); ++i)
        if (log.GetSmsEntry(i, sender, message, time, id) && id % 3 == 0 &&
            marked.insert(id).second && !log.SmsLogSetStatus(id, 1))
          ++failures;
      // Row 1 is there once any row is marked: the insert fails.
      if (!marked.empty() &&
          log.SmsLogExec("INSERT INTO Spam (Id) VALUES (1);") != SQLITE_CONSTRAINT)
        ++failures;
    }
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int lastMax = 0; running; ++loads) {
        std::string text, sender, message, time;
        int id = 0;
        if (!log.LoadSmsLog(0, 1, 1, text)) ++failures;
        for (int i = 0; i < log.GetSmsEntryCount(); ++i)
          if (log.GetSmsEntry(i, sender, message, time, id) && sender != "other") ++failures;
        const int max = log.SmsLogMaxId();
        if (max < lastMax) ++failures;  // rows only come, never go
        lastMax = max;
      }
    });
  }
  int status = 0;
  waitpid(child, &status, 0);
  running = false;
  for (auto& t : threads) t.join();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(loads, 2);
  EXPECT_EQ(Query(device.SmsLogPath(), "SELECT COUNT(*), COUNT(DISTINCT Id), MAX(Id) FROM Spam;"),
            (std::vector<std::string>{"200|200|200"}));
  std::vector<std::string> expected;
  for (int id : marked) expected.push_back(std::to_string(id));
  EXPECT_FALSE(marked.empty());
  EXPECT_EQ(Query(device.SmsLogPath(), "SELECT Id FROM Spam WHERE Status = 1 ORDER BY Id;"),
            expected);
}

}  // namespace
}  // namespace varnox
