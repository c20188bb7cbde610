#include "storage/init_storage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using testsupport::TempRoot;

// Table names of the SQLite database at path.
std::vector<std::string> Tables(const std::string& path) {
  return testsupport::Query(path,
                            "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;");
}

class InitStorageTest : public ::testing::Test {
 protected:
  std::unique_ptr<Storage> Start(bool answer, int* asked = nullptr) {
    auto s = std::make_unique<Storage>(root.path(), clock, table);
    s->locations.FindInstallFolder();
    s->InitStorage(1, [answer, asked](const std::string& text, const std::string& caption) {
      EXPECT_EQ(text, "Use CF Card?");
      EXPECT_EQ(caption, "Question");
      if (asked) ++*asked;
      return answer;
    });
    return s;
  }
  TempRoot root, card;
  FixedClock clock{1765000000};
  RuleTable table;
};

TEST_F(InitStorageTest, CardQuestionIsAskedOnceAndItsAnswerPersists) {
  fs::create_directory_symlink(card.path(), root / "Storage Card");
  int asked = 0;
  auto first = Start(true, &asked);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(first->locations.DataFolder(), root / "Storage Card/Varnox/dba/");
  EXPECT_TRUE(fs::exists(card / "Varnox/dba/Spam_0.db"));
  EXPECT_TRUE(fs::exists(card / "Varnox/dba/Rules_0.db"));
  first.reset();

  auto second = Start(false, &asked);  // found: not asked again
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(second->locations.DataFolder(), root / "Storage Card/Varnox/dba/");
}

TEST_F(InitStorageTest, AnsweringNoKeepsTheDataOnTheDevice) {
  fs::create_directory_symlink(card.path(), root / "Storage Card");
  int asked = 0;
  auto s = Start(false, &asked);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(s->locations.DataFolder(), root / "Varnox/dba/");
  EXPECT_FALSE(fs::exists(card / "Varnox"));
  EXPECT_EQ(s->locations.StorageCardName(), "");
}

TEST_F(InitStorageTest, AFirstStartWithoutCardMakesBothDatabasesAndASecondKeepsEveryRow) {
  {
    int asked = 0;
    auto s = Start(true, &asked);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(s->locations.DataFolder(), root / "Varnox/dba/");
    EXPECT_EQ(Tables(root / "Varnox/dba/Spam_0.db"), std::vector<std::string>{"Spam"});
    EXPECT_EQ(Tables(root / "Varnox/dba/Rules_0.db"), std::vector<std::string>{"Rules"});
    ASSERT_TRUE(s->rules.AddRule("spam@example.org", "", "", 0, 1, 90.0f));
    ASSERT_EQ(s->smsLog.SmsLogExec("INSERT INTO Spam (Id, Sender, Status) VALUES (1, 'x', 0);"), 0);
  }
  testing::internal::CaptureStderr();
  auto s = Start(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // existing tables pass silently
  EXPECT_EQ(s->smsLog.SmsLogMaxId(), 1);
  ASSERT_TRUE(s->rules.LoadRules());
  EXPECT_EQ(s->rules.GetRuleCount(), 1);
}

TEST(InitStorageFailure, AnUnwritableRootFailsQuietlyWithoutADataFolder) {
  FixedClock clock(0);
  RuleTable table;
  Storage s("/proc/varnox-cannot-exist", clock, table);
  testing::internal::CaptureStderr();
  s.InitStorage(1, nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Can't open database"), std::string::npos) << err;
  EXPECT_EQ(s.locations.DataFolder(), "");
  EXPECT_FALSE(s.rules.LoadRules());
  EXPECT_EQ(s.smsLog.SmsLogMaxId(), -1);
}

}  // namespace
}  // namespace varnox
