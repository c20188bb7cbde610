// The data commands as a user runs them against a temporary root.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "storage/init_storage.h"
#include "support/run_command.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

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

TEST_F(DataCommands, RulesAreDeletedByTheTextAsTyped) {
  ASSERT_EQ(Varnox("rules add --sender \"O'Brien\" --message 'Win now'").status, 0);
  ASSERT_EQ(
      Varnox("rules add --sender +4917 --message '' --by-sender --use-response --response Stop")
          .status,
      0);
  Result r = Varnox("rules delete --sender nobody --message x");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no rule"), std::string::npos) << r.out;
  r = Varnox("rules delete --sender \"O'Brien\" --message 'Win now'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Varnox("rules").out, "2\t+4917\t1\t1\t90\t\n");
  EXPECT_NE(Varnox("rules add --sender x").status, 0);  // no message
}

TEST_F(DataCommands, LogListsSmsThenMessagesOfTheDayByStatus) {
  ASSERT_EQ(Varnox("rules").status, 0);  // prepares the root
  {
    RuleTable table;
    Storage s(root.path(), DefaultClock(), table);
    s.InitStorage(1, nullptr);
    const std::string today = s.locations.DayText(0);
    ASSERT_EQ(s.smsLog.SmsLogExec("INSERT INTO Spam VALUES (1, '+4917', 'Cheap\tpills', '', '" +
                                  today + "', '9:00:00 AM', 1), (2, '+4918', 'Hi mum', '', '" +
                                  today + "', '9:01:00 AM', 0);"),
              0);
    s.messages.MAPICreateLog("Personal");
    int id = 0;
    ASSERT_TRUE(s.messages.MAPIAdd("Personal", "Ann", "Ann <ann@example.org>", "Lunch?", "body",
                                   "body", "body", "bodi ", 0, today, "10:00:00 AM", id));
    ASSERT_TRUE(s.messages.MAPIAdd("Personal", "Old", "old@example.org", "Old news", "old", "old",
                                   "old", "old ", 0, s.locations.DayText(1), "10:00:00 AM", id));
  }
  const Result r = Varnox("log");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out + Varnox("log --spam").out + Varnox("log --spam --normal --day 1").out,
            "sms\tSMS\t2\t9:01:00 AM\t+4918\tnormal\tHi mum\n"
            "mail\tPersonal\t1\t10:00:00 AM\tAnn\tnormal\tLunch?\n"
            "sms\tSMS\t1\t9:00:00 AM\t+4917\tspam\tCheap pills\n"
            "mail\tPersonal\t2\t10:00:00 AM\tOld\tnormal\tOld news\n");
}

}  // namespace
}  // namespace varnox
