#include "storage/data_locations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <set>
#include <thread>

#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

std::time_t At(int y, int m, int d, int hh = 12) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = hh;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

TEST(Dates, DaysAgoAndTheDayTextCrossMonthsYearsAndLeapDays) {
  EXPECT_EQ(DaysAgo({2008, 3, 1}, 1), (CalendarDate{2008, 2, 29}));
  EXPECT_EQ(DaysAgo({2009, 3, 1}, 1), (CalendarDate{2009, 2, 28}));
  EXPECT_EQ(DaysAgo({2026, 1, 10}, 40), (CalendarDate{2025, 12, 1}));
  EXPECT_EQ(DaysAgo({2000, 3, 1}, 1), (CalendarDate{2000, 2, 29}));
  EXPECT_EQ(DaysAgo({1900, 3, 1}, 1), (CalendarDate{1900, 2, 28}));
  EXPECT_EQ(DaysAgo({2026, 12, 6}, 365 * 400 + 97), (CalendarDate{1626, 12, 6}));

  FixedClock clock(At(2026, 12, 6));
  DataLocations loc("/nonexistent", clock);
  const std::string week = loc.DayText(0) + "|" + loc.DayText(6);
  clock.Set(At(2008, 3, 1));
  EXPECT_EQ(week + "|" + loc.DayText(1),
            "Sunday, December 06, 2026|Monday, November 30, 2026|Friday, February 29, 2008");
}

TEST(SqlQuoting, ApostrophesBecomeBlanks) {
  std::string s = "plain O''Brien's";
  SanitizeSqlText(s);
  EXPECT_EQ(s, "plain O  Brien s");
}

TEST(DataFiles, TheCardCandidateWinsAndTheFolderIsKeptForTheRun) {
  TempRoot root, card;
  FixedClock clock(At(2026, 12, 6));
  fs::create_directory_symlink(card.path(), root / "Storage Card");
  fs::create_directories(root / "Varnox/dba");
  fs::create_directories(card / "Varnox/dba");
  ASSERT_TRUE(WriteFile(root / "Varnox/dba/Spam_0.db", ""));
  ASSERT_TRUE(WriteFile(card / "Varnox/dba/Spam_0.db", ""));

  DataLocations loc(root.path(), clock);
  loc.SetStorageCardName("Storage Card");
  std::string path, table;
  ASSERT_TRUE(loc.ResolveSmsLogPath(path, table));
  EXPECT_EQ(path, root / "Storage Card/Varnox/dba/Spam_0.db");
  EXPECT_EQ(table, "Spam");
  EXPECT_EQ(loc.DataFolder(), root / "Storage Card/Varnox/dba/");

  // Once found, the folder no longer changes, even when the file goes.
  fs::remove(card / "Varnox/dba/Spam_0.db");
  loc.SetStorageCardName("");
  ASSERT_TRUE(loc.ResolveSmsLogPath(path, table));
  EXPECT_EQ(path, root / "Storage Card/Varnox/dba/Spam_0.db");

  // The rules file is searched afresh each time, falling back to the data folder.
  EXPECT_FALSE(loc.ResolveRulesPath(path, table));
  EXPECT_EQ(path, root / "Storage Card/Varnox/dba/Rules_0.db");
  ASSERT_TRUE(WriteFile(root / "Varnox/dba/Rules_0.db", ""));
  EXPECT_TRUE(loc.ResolveRulesPath(path, table));
  EXPECT_EQ(path, root / "Varnox/dba/Rules_0.db");
  EXPECT_EQ(table, "Rules");
}

TEST(DataFiles, AnEmptyRootHasNoDataFilesAndTheRootsVarnoxFolder) {
  TempRoot root;
  FixedClock clock(0);
  DataLocations loc(root.path(), clock);
  std::string path = "x", table = "y";
  EXPECT_FALSE(loc.ResolveSmsLogPath(path, table));
  EXPECT_EQ(path + table, "");
  EXPECT_FALSE(loc.ResolveRulesPath(path, table));
  EXPECT_EQ(path, "");  // no data folder: no path that would open somewhere else
  EXPECT_FALSE(loc.SignalRulesChanged());
  std::vector<int> ids;
  EXPECT_FALSE(loc.TakeResponseRequests(ids));
  EXPECT_TRUE(fs::is_empty(root.path()));

  loc.FindInstallFolder();
  EXPECT_EQ(loc.InstallFolder() + "|" + loc.LanguageFolder(),
            root / "Varnox" + "|" + root / "Varnox/emn");
  // A writable file named like the program is not the running program.
  fs::create_directories(root / "Varnox");
  ASSERT_TRUE(WriteFile(root / "Varnox/Varnox", "#!/bin/sh\n"));
  loc.FindInstallFolder();
  EXPECT_EQ(loc.InstallFolder(), root / "Varnox");
}

class WithDataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root / "Varnox/dba");
    ASSERT_TRUE(WriteFile(root / "Varnox/dba/Spam_0.db", ""));
    std::string p, t;
    ASSERT_TRUE(loc.ResolveSmsLogPath(p, t));
  }
  std::string Data(const std::string& name) { return root / ("Varnox/dba/" + name); }
  TempRoot root;
  FixedClock clock{0};
  DataLocations loc{root.path(), clock};
};

TEST_F(WithDataFolder, ResponseRequestsAreReadAsNumbersAndTheFileIsGone) {
  ASSERT_TRUE(WriteFile(Data("ss.dat"), "5\n12\nabc\n  7x\n-3\n99999999999\n"));
  std::vector<int> ids;
  ASSERT_TRUE(loc.TakeResponseRequests(ids));
  EXPECT_EQ(ids, (std::vector<int>{5, 12, 0, 7, -3, INT_MAX}));
  EXPECT_FALSE(fs::exists(Data("ss.dat")));
  EXPECT_FALSE(loc.TakeResponseRequests(ids));
  EXPECT_TRUE(ids.empty());

  // A line longer than 255 characters is read in pieces, each a number.
  ASSERT_TRUE(WriteFile(Data("ss.dat"), std::string(300, '1') + "\n"));
  ASSERT_TRUE(loc.TakeResponseRequests(ids));
  EXPECT_EQ(ids.size(), 2u);

  // More than a thousand requests are all taken.
  std::string many;
  for (int i = 1; i <= 1500; ++i) many += std::to_string(i) + "\n";
  ASSERT_TRUE(WriteFile(Data("ss.dat"), many));
  ASSERT_TRUE(loc.TakeResponseRequests(ids));
  EXPECT_EQ(ids.size(), 1500u);
}

TEST_F(WithDataFolder, NoRequestIsLostWhileWritersAppend) {
  constexpr int kPerWriter = 2000;
  std::list<std::thread> writers;
  for (int w = 0; w < 2; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) loc.AppendResponseRequest(w * kPerWriter + i + 1);
    });
  std::multiset<int> seen;
  std::vector<int> ids;
  for (int round = 0; round < 200; ++round) {
    if (loc.TakeResponseRequests(ids)) seen.insert(ids.begin(), ids.end());
  }
  for (auto& t : writers) t.join();
  if (loc.TakeResponseRequests(ids)) seen.insert(ids.begin(), ids.end());
  ASSERT_EQ(seen.size(), 2u * kPerWriter);
  EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), 2u * kPerWriter);
}

TEST_F(WithDataFolder, LogDatabasesAreEnumeratedOnceEachAndTheSignalTruncates) {
  for (const char* name : {"Rules_0.db", "MMS.db", "MMS.db-wal", "ss.dat"})
    ASSERT_TRUE(WriteFile(Data(name), ""));
  fs::create_directories(Data("folder.db"));
  std::string path;
  EXPECT_FALSE(loc.EnumLogDatabases(1, path));  // not started
  ASSERT_TRUE(loc.EnumLogDatabases(0, path));
  std::set<std::string> found;
  while (loc.EnumLogDatabases(1, path)) found.insert(path);
  EXPECT_EQ(path, "");
  EXPECT_EQ(found, (std::set<std::string>{Data("Spam_0.db"), Data("Rules_0.db"), Data("MMS.db")}));
  EXPECT_FALSE(loc.EnumLogDatabases(1, path));
  EXPECT_TRUE(loc.EnumLogDatabases(2, path));

  ASSERT_TRUE(WriteFile(Data("rs.dat"), "old"));
  EXPECT_TRUE(loc.SignalRulesChanged());
  EXPECT_EQ(ReadAll(Data("rs.dat")), "");
}

}  // namespace
}  // namespace varnox
