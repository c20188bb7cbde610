// The SMS companion's watcher on real spool folders and a real SMS log.
#include "rulehook/spool_watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "analysis/fingerprint.h"
#include "storage/init_storage.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox::rulehook {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

std::string SmsFile(const std::string& from, const std::string& text,
                    const std::string& alphabet = "ISO") {
  return "From: " + from +
         "\nFrom_SMSC: 491722270333\nSent: 26-12-06 09:15:02\nReceived: 26-12-06 09:15:07\n"
         "Subject: modem1\nAlphabet: " +
         alphabet + "\nUDH: false\n\n" + text;
}

// A look's counts: rules loaded, logged, spam, moved, rejected, waiting, resting.
std::string Counts(const LookReport& r) {
  std::string out = r.rulesLoaded ? "L" : "-";
  for (int n : {r.logged, r.spam, r.moved, r.rejected, r.waiting, r.resting})
    out += " " + std::to_string(n);
  return out;
}

class SpoolWatcherTest : public ::testing::Test {
 protected:
  SpoolWatcherTest() : storage(root.path(), clock, table) {
    storage.InitStorage(1, nullptr);
    fs::create_directories(spool + "/incoming");
    data = storage.locations.DataFolder();
    watcher = std::make_unique<SpoolWatcher>(data, spool, clock);
  }

  // Drops a file into incoming/, modified seconds after a fixed moment, so
  // the order of arrival is the test's to choose.
  void Drop(const std::string& name, const std::string& bytes, int second = 0) {
    const std::string path = spool + "/incoming/" + name;
    ASSERT_TRUE(WriteFile(path, bytes));
    const struct timespec times[2] = {{1765000000 + second, 0}, {1765000000 + second, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  // The first look sees the files, the second finds them unchanged.
  LookReport LookTwice() {
    watcher->Look();
    return watcher->Look();
  }
  std::vector<std::string> Incoming() { return FilesUnder(spool + "/incoming"); }
  // The response requests written for the program; answering them is its
  // responder's work, tested there.
  std::string Requests() { return ReadAll(data + "ss.dat"); }
  // Rows of a query on the SMS log, joined by blanks.
  std::string Log(const std::string& sql) {
    std::string out;
    for (const std::string& row : Query(data + kSmsLogFile, sql))
      out += (out.empty() ? "" : " ") + row;
    return out;
  }

  TempRoot root;
  FixedClock clock{1765012345};
  RuleTable table;
  Storage storage;
  std::string spool = root / "spool";
  std::string data;
  std::unique_ptr<SpoolWatcher> watcher;
};

TEST_F(SpoolWatcherTest, ASenderRuleMakesSpamAndAsksForItsResponse) {
  ASSERT_TRUE(storage.rules.AddRule("+4917", "", "Please stop.", 1, 1, 90.0f));  // Id 1
  ASSERT_TRUE(storage.rules.AddRule("4930", "", "Not sent", 0, 1, 90.0f));       // Id 2
  Drop("modem1.aaaaaa", SmsFile("491721234567", "Win a prize now!"), 1);
  Drop("modem1.bbbbbb", SmsFile("4940555", "Lunch at noon?"), 2);
  Drop("modem1.cccccc", SmsFile("+4930777", "Also from a ruled number"), 3);
  Drop("modem1.dddddd", SmsFile("491729999", "Second from the same number"), 4);

  // Just arrived: not yet known to be complete.
  EXPECT_EQ(Counts(watcher->Look()), "L 0 0 0 0 4 0");
  EXPECT_EQ(Counts(watcher->Look()), "- 4 3 4 0 0 0");

  EXPECT_EQ(
      Query(
          data + kSmsLogFile,
          "SELECT Id, Sender, Message, ReceivedDate, ReceivedTime, Status FROM Spam ORDER BY Id;"),
      (std::vector<std::string>{
          "1|+491721234567|Win a prize now!|Sunday, December 06, 2026|9:15:07 AM|1",
          "2|+4940555|Lunch at noon?|Sunday, December 06, 2026|9:15:07 AM|0",
          "3|+4930777|Also from a ruled number|Sunday, December 06, 2026|9:15:07 AM|1",
          "4|+491729999|Second from the same number|Sunday, December 06, 2026|"
          "9:15:07 AM|1"}));
  // Every handled file is kept, none is left in incoming/.
  EXPECT_TRUE(Incoming().empty());
  EXPECT_EQ(FilesUnder(spool + "/" + kHandledFolder).size(), 4u);
  EXPECT_EQ(Log("SELECT Name, Id FROM SpoolFiles ORDER BY Id;"),
            "modem1.aaaaaa|1 modem1.bbbbbb|2 modem1.cccccc|3 modem1.dddddd|4");

  // Each spam SMS asks for its rule's response, switched on or not.
  EXPECT_EQ(Requests(), "1\n2\n1\n");
}

TEST_F(SpoolWatcherTest, RulesAreReloadedWhenTheSignalChangesAndMessageRulesReadTheText) {
  Drop("a", SmsFile("4911", "CHEAP loans for everyone! Call today"));
  EXPECT_EQ(LookTwice().spam, 0);
  ASSERT_TRUE(storage.rules.AddRule("", "Cheap loans for everyone, call today", "", 0, 0, 60.0f));
  ASSERT_TRUE(storage.locations.SignalRulesChanged());
  Drop("b", SmsFile("4911", "cheap loans for everyone, call today!"), 1);
  Drop("c", SmsFile("4911", "See you at the station"), 2);
  EXPECT_TRUE(watcher->Look().rulesLoaded);
  EXPECT_FALSE(watcher->Look().rulesLoaded);  // unchanged signal: no reload
  EXPECT_EQ(Log("SELECT Status FROM Spam ORDER BY Id;"), "0 1 0");
  EXPECT_EQ(Requests(), "1\n");  // the program finds that the rule has no response
}

TEST_F(SpoolWatcherTest, OnlyFilesThatStoppedChangingAreTakenOldestFirst) {
  Drop("z-oldest", SmsFile("4901", "first"), 1);
  Drop("a-newest", SmsFile("4902", "third"), 3);
  Drop("m-middle", SmsFile("4903", "second"), 2);
  watcher->Look();
  Drop("m-middle", SmsFile("4903", "second, still being written"), 2);  // grew
  EXPECT_EQ(Counts(watcher->Look()), "- 2 0 2 0 1 0");
  EXPECT_EQ(watcher->Look().logged, 1);
  EXPECT_EQ(Log("SELECT Message FROM Spam ORDER BY Id;"),
            "first third second, still being written");
}

TEST_F(SpoolWatcherTest, AFileLoggedBeforeACrashIsOnlyMoved) {
  ASSERT_TRUE(storage.rules.AddRule("+49", "", "Stop", 1, 1, 90.0f));
  const std::string bytes = SmsFile("4917", "logged, then killed before the move");
  // The state a kill between the commit and the move leaves behind.
  SmsLogWriter writer(data);
  int id = 0;
  std::string error;
  ASSERT_EQ(writer.Log({"+4917", "logged, then killed before the move", "", "d", "t", 1},
                       "modem1.crash", Fingerprint(bytes), id, error),
            LogOutcome::kLogged);
  Drop("modem1.crash", bytes);
  // Another SMS that smstools later wrote under the same name is a new one.
  Drop("modem1.crash2", SmsFile("4917", "another"));
  EXPECT_EQ(Counts(LookTwice()), "- 1 1 2 0 0 0");
  EXPECT_EQ(Log("SELECT COUNT(*) FROM Spam;"), "2");
  EXPECT_EQ(Requests(), "1\n");  // no second answer for the logged one

  Drop("modem1.crash", SmsFile("4917", "same name, new text"));
  EXPECT_EQ(LookTwice().logged, 1);
  // The handled folder keeps both files of that name.
  EXPECT_TRUE(fs::exists(spool + "/" + kHandledFolder + "/modem1.crash"));
  EXPECT_TRUE(fs::exists(spool + "/" + kHandledFolder + "/modem1.crash.1"));
}

TEST_F(SpoolWatcherTest, BadFilesAreSetAsideAndOddOnesStillLogged) {
  Drop("garbage", std::string("\x00\xff\xfe binary", 10));
  Drop("no-from", "Received: 26-12-06 09:15:07\nAlphabet: ISO\n\ntext without a sender");
  Drop("huge", SmsFile("4900", std::string(9 * 1024 * 1024, 'x')));
  Drop("report", SmsFile("4917", "SMS STATUS REPORT\nMessage_id: 117\nStatus: 0,Ok"));
  // Odd but readable (what the reader itself makes of broken files is
  // tested with it): a 1 MB body, unknown headers, no dates.
  Drop("big", SmsFile("4901", std::string(1024 * 1024, 'y')));
  Drop("odd", "From: 4903\nX-Whatever: 1\nFlash: yes\n\nno dates at all");
  fs::create_directories(spool + "/incoming/subfolder");
  fs::create_symlink("/etc/passwd", spool + "/incoming/link");

  testing::internal::CaptureStderr();
  // Two logged and moved with the delivery report, four rejected.
  EXPECT_EQ(Counts(LookTwice()), "- 2 0 3 4 0 0");
  const std::string said = testing::internal::GetCapturedStderr();
  for (const char* name : {"garbage", "no-from", "huge", "link"}) {
    EXPECT_TRUE(fs::exists(spool + "/" + kRejectedFolder + "/" + name)) << name;
    EXPECT_NE(said.find(std::string("/incoming/") + name + " is no received SMS"),
              std::string::npos)
        << said;
  }
  EXPECT_TRUE(fs::is_symlink(spool + "/" + kRejectedFolder + "/link"));  // moved, not followed
  EXPECT_TRUE(fs::exists(spool + "/" + kHandledFolder + "/report"));
  EXPECT_TRUE(fs::is_directory(spool + "/incoming/subfolder"));

  // Without a date in the file the SMS counts as received now.
  EXPECT_EQ(
      Log("SELECT Sender, LENGTH(Message), ReceivedDate FROM Spam ORDER BY Sender;"),
      "+4901|1048576|Sunday, December 06, 2026 +4903|15|" + LongDateText(LocalTime(clock.Now())));
}

TEST_F(SpoolWatcherTest, NothingIsLostWhileTheLogOrTheSpoolIsMissing) {
  ASSERT_TRUE(WriteFile(data + "ss.dat", "7\n"));  // a request not yet taken
  ASSERT_TRUE(storage.rules.AddRule("+4917", "", "", 1, 1, 90.0f));
  fs::rename(data + kSmsLogFile, root / "aside.db");
  Drop("modem1.wait", SmsFile("4917", "kept until it can be logged"));
  testing::internal::CaptureStderr();
  LookTwice();
  watcher->Look();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Incoming().size(), 1u);
  // Told once, not at every look.
  EXPECT_EQ(said.find("cannot log"), said.rfind("cannot log")) << said;
  EXPECT_NE(said.find("no SMS log"), std::string::npos) << said;

  fs::rename(root / "aside.db", data + kSmsLogFile);
  EXPECT_EQ(watcher->Look().logged, 1);
  EXPECT_TRUE(Incoming().empty());
  EXPECT_EQ(Requests(), "7\n1\n");  // appended, never truncated

  // A spool that went away is no error either, and is not made again; it is
  // told once, and watched again once it is back.
  fs::remove_all(spool);
  testing::internal::CaptureStderr();
  EXPECT_EQ(LookTwice().logged, 0);
  const std::string gone = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::exists(spool));
  EXPECT_NE(gone.find("cannot read the SMS spool folder " + spool + "/incoming"), std::string::npos)
      << gone;
  EXPECT_EQ(gone.find(spool), gone.rfind(spool)) << gone;
  fs::create_directories(spool + "/incoming");
  Drop("modem1.back", SmsFile("4917", "after the spool came back"), 1);
  EXPECT_EQ(LookTwice().logged, 1);
}

TEST_F(SpoolWatcherTest, AFileThatCannotBeMovedIsLoggedOnceAndTriedAgainLater) {
  // A file where the handled folder should be: every move fails.
  ASSERT_TRUE(WriteFile(spool + "/" + kHandledFolder, "in the way"));
  Drop("modem1.stuck", SmsFile("4917", "stuck in incoming"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Counts(LookTwice()), "- 1 0 0 0 1 0");
  for (int i = 1; i < kRestingLooks; ++i) ASSERT_EQ(watcher->Look().resting, 1) << i;
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.find("cannot move"), said.rfind("cannot move")) << said;  // told once
  fs::remove(spool + "/" + kHandledFolder);
  // A minute of looks has passed: it is tried again, and moved.
  EXPECT_EQ(watcher->Look().moved, 1);
  EXPECT_TRUE(Incoming().empty());
  EXPECT_EQ(Log("SELECT COUNT(*) FROM Spam;"), "1");
}

}  // namespace
}  // namespace varnox::rulehook
