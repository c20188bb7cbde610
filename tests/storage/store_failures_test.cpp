// The three stores (message log, SMS log, rule store) on a file that is not a
// database and without a data folder: every operation fails, nothing is
// created or changed, and a later data folder is found by the same object.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "storage/message_log.h"
#include "storage/rule_store.h"
#include "storage/sms_log.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// Every operation of one store object in a fixed order, the results joined by
// blanks; the object lives on between runs.
using Operations = std::function<std::string()>;

std::string Joined(std::initializer_list<long> results) {
  std::string out;
  for (long r : results) out += (out.empty() ? "" : " ") + std::to_string(r);
  return out;
}

struct StoreCase {
  const char* name;
  const char* file;  // in the data folder
  Operations (*make)(DataLocations&);
  const char* junkResults;
  const char* missingResults;  // no data folder
  const char* foundResults;    // the data folder made afterwards
  const char* junkSaid;        // on standard error, for the junk file
  const char* missingSaid;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
  *os << c.name;
}

const StoreCase kStores[] = {
    {"message log", "Mail.db",
     [](DataLocations& loc) -> Operations {
       return [&loc, log = std::make_shared<MessageLog>(loc)] {
         int id = 0, status = 0;
         std::string a, b, c;
         LogRow row;
         return Joined(
             {log->MAPICreateLog("Mail"), log->MAPIExists("Mail", "body", id, status, a),
              log->MAPIAdd("Mail", "s", "a", "subj", "body", "body", "body", "", 0, "d", "t", id),
              id, log->MAPIUpdate("Mail", 1, 1), log->MAPIGetMessageBody("Mail", 1, a, b, c),
              log->LoadMAPI("Mail", 0, 1, 1, a),
              !loc.DataFolder().empty() && log->MAPIGetNextMessage(0, loc.DataFolder() + "Mail.db",
                                                                   1, 1, 1, -1, 1, 1, row)});
       };
     },
     "-1 0 0 -1 0 0 0 0", "0 0 0 -1 0 0 0 0", "0 0 1 1 1 1 1 1", "", ""},
    {"SMS log", kSmsLogFile,
     [](DataLocations& loc) -> Operations {
       return [&loc, log = std::make_shared<SmsLog>(loc)] {
         std::string day;
         return Joined({log->OpenSmsLogDb(), log->LoadSmsLog(0, 1, 1, day), log->GetSmsEntryCount(),
                        log->SmsLogSetStatus(1, 1), log->SmsLogMaxId(),
                        log->SmsLogExec("UPDATE Spam SET Status = 0;"), day == loc.DayText(0)});
       };
     },
     "1 0 0 0 -1 26 1", "0 0 0 0 -1 1 1", "1 1 0 1 0 0 1", "", ""},
    {"rule store", kRulesFile,
     [](DataLocations& loc) -> Operations {
       auto table = std::make_shared<RuleTable>();
       return [table, store = std::make_shared<RuleStore>(loc, *table)] {
         return Joined({store->CreateRulesTable(), store->AddRule("a", "b", "", 0, 1, 90.0f),
                        store->LoadRules(), store->GetRuleCount(), store->DeleteRule("a", "b"),
                        store->RulesMaxId()});
       };
     },
     "1 0 0 0 0 -1", "1 0 0 0 0 -1", "1 1 1 1 1 0", "SQL error: file is not a database\n",
     "Can't open database: "},
};

class StoreFailures : public testing::TestWithParam<StoreCase> {
 protected:
  std::string Run(const std::string& expectSaid) {
    testing::internal::CaptureStderr();
    const std::string results = operations();
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
  Operations operations = GetParam().make(loc);
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

INSTANTIATE_TEST_SUITE_P(Stores, StoreFailures, testing::ValuesIn(kStores), [](const auto& info) {
  std::string name = info.param.name;
  std::erase(name, ' ');
  return name;
});

}  // namespace
}  // namespace varnox
