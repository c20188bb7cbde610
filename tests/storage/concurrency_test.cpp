// Threads, and another process, working on the rule store and the SMS log at
// once. Built alone under ThreadSanitizer as well.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <list>
#include <memory>
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
      const int count = store.GetRuleCount();
      for (int i = 0; i < count; ++i) {
        std::string sender, message, response;
        int useResponse, filterBySender, id;
        float certainty;
        // A load on another thread may shrink the table between the calls.
        if (!store.GetRule(i, sender, message, response, useResponse, filterBySender, certainty,
                           id))
          continue;
        if (sender.rfind("sender", 0) == 0) {
          const std::string n = sender.substr(6);
          if (message != "message " + n) ++failures;
          if (response != (useResponse ? "resp" + n : "first" + n)) ++failures;
        }
      }
    }
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      // Never sees a table half loaded or half cleared.
      while (adding)
        if (CheckRules(table, probe) != 1) ++failures;
    });
  }
  threads.emplace_back([&] {
    // Empties the table now and then, so the matcher loads it itself.
    while (adding) {
      {
        std::lock_guard<std::mutex> guard(table.lock);
        ClearRuleTable(table);
      }
      std::string sender, response;
      int useResponse;
      if (store.FindRuleById(1, sender, response, useResponse) && sender != "spammer.example")
        ++failures;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(failures, 0);
  ASSERT_TRUE(store.LoadRules());
  EXPECT_EQ(store.GetRuleCount(), kAdds + 1);
  EXPECT_EQ(Query(device.RulesPath(), "SELECT COUNT(DISTINCT Id), MIN(Id), MAX(Id) FROM Rules;"),
            (std::vector<std::string>{"201|1|201"}));
}

TEST(ConcurrentRules, SeparateConnectionsNeverTakeTheSameId) {
  Device device;
  constexpr int kStores = 3, kAdds = 170;
  std::vector<std::unique_ptr<RuleTable>> tables;
  std::vector<std::unique_ptr<RuleStore>> stores;
  for (int s = 0; s < kStores; ++s) {
    tables.push_back(std::make_unique<RuleTable>());
    stores.push_back(std::make_unique<RuleStore>(device.locations(), *tables.back()));
  }
  std::atomic<int> failures{0};
  std::list<std::thread> threads;
  for (int s = 0; s < kStores; ++s) {
    threads.emplace_back([&, s] {
      for (int k = 0; k < kAdds; ++k)
        if (!stores[s]->AddRule(std::to_string(s) + "-" + std::to_string(k), "", "", 0, 1, 90.0f))
          ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Query(device.RulesPath(), "SELECT COUNT(*), COUNT(DISTINCT Id), MAX(Id) FROM Rules;"),
            (std::vector<std::string>{"510|510|510"}));
}

TEST(ConcurrentSmsLog, LoadAndSetStatusShareOneConnection) {
  Device device;
  constexpr int kRows = 100;
  Exec(device.SmsLogPath(),
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(kRows) + ") INSERT INTO Spam SELECT i, 'from' || i, 'text' || i, '', '" +
           device.locations().DayText(0) + "', '1:00:00 PM', i % 2 FROM n;");
  SmsLog log(device.locations());
  std::atomic<int> failures{0};
  std::atomic<bool> running{true};
  std::list<std::thread> threads;
  testing::internal::CaptureStderr();
  threads.emplace_back([&] {
    for (int round = 0; round < 10; ++round) {
      for (int id = 1; id <= kRows; ++id)
        if (!log.SmsLogSetStatus(id, (id + round) % 2)) ++failures;
      // A failed statement closes the shared connection under the others' feet.
      if (log.SmsLogExec("INSERT INTO Spam (Id) VALUES (1);") != SQLITE_CONSTRAINT) ++failures;
    }
    running = false;
  });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (running) {
        std::string day, sender, message, time;
        int id = 0;
        // Every verdict written is 0 or 1, so both flags list every row.
        if (!log.LoadSmsLog(0, 1, 1, day) || log.GetSmsEntryCount() != kRows ||
            log.SmsLogMaxId() != kRows)
          ++failures;
        for (int i = 0; i < kRows; ++i)
          if (log.GetSmsEntry(i, sender, message, time, id) &&
              sender != "from" + std::to_string(id))
            ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(failures, 0);
  // The last round (9) wrote (id + 9) % 2.
  EXPECT_EQ(Query(device.SmsLogPath(), "SELECT COUNT(*) FROM Spam WHERE Status = (Id + 9) % 2;"),
            (std::vector<std::string>{std::to_string(kRows)}));
}

TEST(ConcurrentSmsLog, AnotherProcessAddsRowsWhileTheProgramReadsAndWrites) {
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
  int failures = 0, loads = 0, lastMax = 0;
  std::set<int> marked;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    std::string text;
    if (!log.LoadSmsLog(0, 1, 1, text)) ++failures;
    ++loads;
    std::vector<int> ids;
    for (int i = 0; i < log.GetSmsEntryCount(); ++i) {
      std::string sender, message, time;
      int id = 0;
      if (log.GetSmsEntry(i, sender, message, time, id)) ids.push_back(id);
    }
    for (int id : ids)
      if (id % 3 == 0 && marked.insert(id).second && !log.SmsLogSetStatus(id, 1)) ++failures;
    const int max = log.SmsLogMaxId();
    if (max < lastMax) ++failures;  // rows only come, never go
    lastMax = max;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(loads, 1);
  EXPECT_EQ(Query(device.SmsLogPath(), "SELECT COUNT(*), COUNT(DISTINCT Id), MAX(Id) FROM Spam;"),
            (std::vector<std::string>{"200|200|200"}));
  const auto spam = Query(device.SmsLogPath(), "SELECT Id FROM Spam WHERE Status = 1 ORDER BY Id;");
  std::vector<std::string> expected;
  for (int id : marked) expected.push_back(std::to_string(id));
  EXPECT_EQ(spam, expected);
  EXPECT_FALSE(marked.empty());
}

}  // namespace
}  // namespace varnox
