// The data commands as a user runs them against a temporary root.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "storage/init_storage.h"
#include "support/run_command.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using testsupport::TempRoot;

using Result = testsupport::CommandOutput;

class DataCommands : public ::testing::Test {
 protected:
  Result Varnox(const std::string& args) {
    return testsupport::RunShell(std::string(VARNOX_BINARY) + " " + args + " --root '" +
                                 root.path() + "' 2>&1 </dev/null");
  }
  TempRoot root;
};

TEST_F(DataCommands, RulesAreAddedListedReplacedAndDeleted) {
  Result r = Varnox("rules");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::exists(root / "Varnox/dba/Rules_0.db"));  // the first command prepares the root

  EXPECT_EQ(Varnox("rules add --sender +4917 --message 'Win a prize now' --certainty 75").status,
            0);
  EXPECT_TRUE(fs::exists(root / "Varnox/dba/rs.dat"));
  EXPECT_EQ(Varnox("rules add --sender \"O'Brien\" --message '' --by-sender --use-response "
                   "--response 'Stop it'")
                .status,
            0);
  r = Varnox("rules");
  EXPECT_EQ(r.out,
            "1\t+4917\t0\t0\t75\tWin a prize now\n"
            "2\tO Brien\t1\t1\t90\t\n");

  // The same sender and the same words replace rule 1 under its Id.
  EXPECT_EQ(Varnox("rules add --sender +4917 --message 'now WIN a prize'").status, 0);
  r = Varnox("rules");
  EXPECT_NE(r.out.find("1\t+4917\t0\t0\t90\tnow WIN a prize\n"), std::string::npos) << r.out;

  r = Varnox("rules delete --sender \"O'Brien\" --message ''");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Varnox("rules delete --sender nobody --message x");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no rule"), std::string::npos);
  EXPECT_EQ(Varnox("rules").out, "1\t+4917\t0\t0\t90\tnow WIN a prize\n");
  EXPECT_NE(Varnox("rules add --sender x").status, 0);  // no message
}

TEST_F(DataCommands, LogListsSmsThenMessagesOfTheDayByStatus) {
  ASSERT_EQ(Varnox("rules").status, 0);  // prepares the root
  {
    RuleTable table;
    Storage s(root.path(), DefaultClock(), table);
    s.InitStorage(1, nullptr);
    const std::string today = s.locations.DayText(0);
    const std::string yesterday = s.locations.DayText(1);
    ASSERT_EQ(s.smsLog.SmsLogExec(
                  "INSERT INTO Spam VALUES (1, '+4917', 'Cheap\tpills', 'cheap pill ', '" + today +
                  "', '9:00:00 AM', 1);"),
              0);
    ASSERT_EQ(s.smsLog.SmsLogExec("INSERT INTO Spam VALUES (2, '+4918', 'Hi mum', 'hi mum ', '" +
                                  today + "', '9:01:00 AM', 0);"),
              0);
    s.messages.MAPICreateLog("Personal");
    int id = 0;
    ASSERT_TRUE(s.messages.MAPIAdd("Personal", "Ann", "Ann <ann@example.org>", "Lunch?", "body",
                                   "body", "body", "bodi ", 0, today, "10:00:00 AM", id));
    ASSERT_TRUE(s.messages.MAPIAdd("Personal", "Old", "old@example.org", "Old news", "old", "old",
                                   "old", "old ", 0, yesterday, "10:00:00 AM", id));
  }
  Result r = Varnox("log");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "sms\tSMS\t2\t9:01:00 AM\t+4918\tnormal\tHi mum\n"
            "mail\tPersonal\t1\t10:00:00 AM\tAnn\tnormal\tLunch?\n");
  r = Varnox("log --spam");
  EXPECT_EQ(r.out, "sms\tSMS\t1\t9:00:00 AM\t+4917\tspam\tCheap pills\n");
  r = Varnox("log --spam --normal --day 1");
  EXPECT_EQ(r.out, "mail\tPersonal\t2\t10:00:00 AM\tOld\tnormal\tOld news\n");
}

}  // namespace
}  // namespace varnox
