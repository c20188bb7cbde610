// The three stores (message log, SMS log, rule store) on a file that is not a
// database and without a data folder: every operation fails, nothing is
// created or changed, and a later data folder is found by the same object.
#include <gtest/gtest.h>

#include <string>

#include "storage/message_log.h"
#include "storage/rule_store.h"
#include "storage/sms_log.h"
#include "support/storage_helpers.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

std::string Joined(std::initializer_list<long> results) {
  std::string out;
  for (long r : results) out += (out.empty() ? "" : " ") + std::to_string(r);
  return out;
}

// Every operation of one store in a fixed order, the results joined by blanks.
class Stores {
 public:
  explicit Stores(DataLocations& loc) : loc_(loc), messages_(loc), sms_(loc), rules_(loc, table_) {}

  std::string MessageLogOperations() {
    int id = 0, status = 0;
    std::string a, b, c;
    LogRow row;
    return Joined(
        {messages_.MAPICreateLog("Mail"), messages_.MAPIExists("Mail", "body", id, status, a),
         messages_.MAPIAdd("Mail", "s", "a", "subj", "body", "body", "body", "", 0, "d", "t", id),
         id, messages_.MAPIUpdate("Mail", 1, 1), messages_.MAPIGetMessageBody("Mail", 1, a, b, c),
         messages_.LoadMAPI("Mail", 0, 1, 1, a),
         !loc_.DataFolder().empty() &&
             messages_.MAPIGetNextMessage(0, loc_.DataFolder() + "Mail.db", 1, 1, 1, -1, 1, 1,
                                          row)});
  }
  std::string SmsLogOperations() {
    std::string day;
    return Joined({sms_.OpenSmsLogDb(), sms_.LoadSmsLog(0, 1, 1, day), sms_.GetSmsEntryCount(),
                   sms_.SmsLogSetStatus(1, 1), sms_.SmsLogMaxId(),
                   sms_.SmsLogExec("UPDATE Spam SET Status = 0;"), day == loc_.DayText(0)});
  }
  std::string RuleStoreOperations() {
    return Joined({rules_.CreateRulesTable(), rules_.AddRule("a", "b", "", 0, 1, 90.0f),
                   rules_.LoadRules(), rules_.GetRuleCount(), rules_.DeleteRule("a", "b"),
                   rules_.RulesMaxId()});
  }

 private:
  DataLocations& loc_;
  MessageLog messages_;
  SmsLog sms_;
  RuleTable table_;
  RuleStore rules_;
};

struct StoreCase {
  const char* name;
  const char* file;  // in the data folder
  std::string (Stores::*operations)();
  const char* junkResults;
  const char* missingResults;  // no data folder
  const char* foundResults;    // the data folder made afterwards
  const char* junkSaid;        // on standard error, for the junk file
  const char* missingSaid;
};

// Test names show the store, not the case's bytes.
void PrintTo(const StoreCase& c, std::ostream* os) {
  *os << c.name;
}

const StoreCase kStores[] = {
    {"MessageLog", "Mail.db", &Stores::MessageLogOperations, "-1 0 0 -1 0 0 0 0",
     "0 0 0 -1 0 0 0 0", "0 0 1 1 1 1 1 1", "", ""},
    {"SmsLog", kSmsLogFile, &Stores::SmsLogOperations, "1 0 0 0 -1 26 1", "0 0 0 0 -1 1 1",
     "1 1 0 1 0 0 1", "", ""},
    {"RuleStore", kRulesFile, &Stores::RuleStoreOperations, "1 0 0 0 0 -1", "1 0 0 0 0 -1",
     "1 1 1 1 1 0", "SQL error: file is not a database\n", "Can't open database: "},
};

class StoreFailures : public testing::TestWithParam<StoreCase> {
 protected:
  std::string Run(const std::string& expectSaid) {
    testing::internal::CaptureStderr();
    const std::string results = (stores.*GetParam().operations)();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(expectSaid), std::string::npos) << said;
    return results;
  }
  void MakeDataFolder() {
    ExecOnce(dba + kSmsLogFile, SmsLogCreateStatement());
    std::string path, table;
    ASSERT_TRUE(loc.ResolveSmsLogPath(path, table));
  }

  TempRoot root;
  FixedClock clock{1796000000};
  DataLocations loc{root.path(), clock};
  std::string dba = root / "Varnox/dba/";
  Stores stores{loc};
};

TEST_P(StoreFailures, AFileThatIsNotADatabaseFailsCleanlyAndStaysUntouched) {
  fs::create_directories(dba);
  MakeDataFolder();
  const std::string junk(8192, 'j');
  const std::string path = dba + GetParam().file;
  for (const char* suffix : {"-wal", "-shm"}) fs::remove(path + suffix);
  ASSERT_TRUE(WriteFile(path, junk));
  EXPECT_EQ(Run(GetParam().junkSaid), GetParam().junkResults);
  EXPECT_EQ(ReadAll(path), junk);
}

TEST_P(StoreFailures, WithoutADataFolderNothingIsCreatedUntilItExists) {
  fs::create_directories(dba);
  TempRoot cwd;
  {
    WorkingDirectory inside(cwd.path());
    EXPECT_EQ(Run(GetParam().missingSaid), GetParam().missingResults);
    EXPECT_EQ(loc.DataFolder(), "");
    EXPECT_TRUE(FilesUnder(root.path()).empty());
    // A failed opening is not remembered: the data folder, once made, is used.
    MakeDataFolder();
    EXPECT_EQ(Run(""), GetParam().foundResults);
  }
  EXPECT_TRUE(FilesUnder(cwd.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Each, StoreFailures, testing::ValuesIn(kStores),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnox
