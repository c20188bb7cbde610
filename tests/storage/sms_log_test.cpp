#include "storage/sms_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

class SmsLogTest : public ::testing::Test, protected DataRoot {
 protected:
  SmsLogTest() : DataRoot(false) {}

  // What the companion library writes: one SMS received n days ago.
  void Insert(int id, int daysAgo, int status, const std::string& time = "9:15:00 AM") {
    Exec(LogPath(), "INSERT INTO Spam VALUES (" + std::to_string(id) + ", 'from" +
                        std::to_string(id) + "', 'text" + std::to_string(id) + "', 'text', '" +
                        locations_.DayText(daysAgo) + "', '" + time + "', " +
                        std::to_string(status) + ");");
  }

  // The listed Ids, loaded with the given flags.
  std::vector<int> Listed(int daysAgo, int spam, int normal) {
    std::string day;
    EXPECT_TRUE(log.LoadSmsLog(daysAgo, spam, normal, day));
    EXPECT_EQ(day, locations_.DayText(daysAgo));
    std::vector<int> ids;
    for (int i = 0; i < log.GetSmsEntryCount(); ++i) {
      std::string sender, message, time;
      int id = 0;
      EXPECT_TRUE(log.GetSmsEntry(i, sender, message, time, id));
      EXPECT_EQ(sender + "|" + message, "from" + std::to_string(id) + "|text" + std::to_string(id));
      ids.push_back(id);
    }
    return ids;
  }

  SmsLog log{locations_};
};

TEST_F(SmsLogTest, StatementsCreateTheTableAndItsDateIndex) {
  EXPECT_EQ(Query(LogPath(),
                  "SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY name;"),
            (std::vector<std::string>{"Spam", "SpamReceivedDate"}));
  EXPECT_EQ(Query(LogPath(), "SELECT name, type FROM pragma_table_info('Spam');"),
            (std::vector<std::string>{"Id|INT", "Sender|TEXT", "Message|TEXT", "Tokens|TEXT",
                                      "ReceivedDate|TEXT", "ReceivedTime|TEXT", "Status|INT"}));
}

TEST_F(SmsLogTest, ListsTheDayByVerdictAndSetStatusChangesIt) {
  Insert(1, 0, 0);
  Insert(2, 0, 1);
  Insert(3, 0, 2);  // not a verdict the program writes: never listed
  Insert(4, 1, 1);
  Insert(5, 0, 1);
  EXPECT_EQ(Listed(0, 1, 0), (std::vector<int>{2, 5}));
  EXPECT_EQ(Listed(0, 0, 1), (std::vector<int>{1}));
  EXPECT_EQ(Listed(0, 1, 1), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(Listed(1, 1, 1), (std::vector<int>{4}));
  EXPECT_EQ(Listed(0, 0, 0), (std::vector<int>{}));
  EXPECT_EQ(Listed(2, 1, 1), (std::vector<int>{}));
  EXPECT_EQ(log.SmsLogMaxId(), 5);
  std::string sender, message, time;
  int id = 0;
  EXPECT_FALSE(log.GetSmsEntry(0, sender, message, time, id));

  EXPECT_TRUE(log.SmsLogSetStatus(1, 1));
  EXPECT_TRUE(log.SmsLogSetStatus(99, 0));  // no such row: nothing changes, no failure
  EXPECT_EQ(Listed(0, 1, 0), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(Query(LogPath(), "SELECT group_concat(Status) FROM Spam;"),
            std::vector<std::string>{"1,1,2,1,1"});
}

TEST_F(SmsLogTest, ADayListsAtMost256AndCutsLongTimes) {
  // 300 spam rows between 300 normal ones: the limit counts listed rows.
  Exec(LogPath(),
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
       "INSERT INTO Spam SELECT i, 'from' || i, 'text' || i, '', '" +
           locations_.DayText(0) + "', '1:00:00 PM', i % 2 FROM n;");
  const std::vector<int> ids = Listed(0, 1, 0);
  ASSERT_EQ(ids.size(), 256u);
  for (std::size_t k = 0; k < ids.size(); ++k) EXPECT_EQ(ids[k], static_cast<int>(2 * k + 1));
  EXPECT_EQ(Listed(0, 1, 1).size(), 256u);

  Exec(LogPath(), "DELETE FROM Spam;");
  // 30 bytes and a two-byte character would need 32 bytes: cut before it.
  Insert(1, 0, 0, std::string(30, '7') + "\xC3\xA9" + "later");
  Insert(2, 0, 0, std::string(31, '8'));
  ASSERT_EQ(Listed(0, 0, 1).size(), 2u);
  std::string sender, message, first, second;
  int id = 0;
  log.GetSmsEntry(0, sender, message, first, id);
  log.GetSmsEntry(1, sender, message, second, id);
  EXPECT_EQ(first + "|" + second, std::string(30, '7') + "|" + std::string(31, '8'));
}

TEST_F(SmsLogTest, AFailedStatementReopensTheDatabaseOnTheNextUse) {
  Insert(1, 0, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(log.SmsLogExec("SELECT * FROM NoSuchTable;"), 1);  // result 1: no message
  EXPECT_EQ(log.SmsLogExec("INSERT INTO Spam (Id) VALUES (1);"), SQLITE_CONSTRAINT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "SQL error: UNIQUE constraint failed: Spam.Id\n");

  // Replace the database file. Only a connection opened anew sees the new one;
  // the old connection would still read the removed file.
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(LogPath() + suffix);
  CreateLog();
  Insert(7, 0, 1);
  EXPECT_EQ(Listed(0, 1, 1), (std::vector<int>{7}));
  EXPECT_EQ(log.SmsLogMaxId(), 7);
}

}  // namespace
}  // namespace varnox
