// The message viewer and its workers driven on the window model, on real
// temporary roots with real logs, Maildirs and rule databases.
#include "app/viewer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "app/viewer_fixture.h"
#include "app/workers.h"
#include "html2txt/html_converter.h"
#include "platform/maildir.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;
using Kind = MessageKey::Kind;

constexpr char kV[] = "120";

using ViewerTest = ViewerFixture;

TEST_F(ViewerTest, DayFieldAndVerdictBoxesChooseTheListedMessages) {
  Sms(1, "+491", "today normal");
  Sms(2, "+492", "today spam", 1);
  Sms(3, "+493", "three days back", 0, 3);
  viewer.Open();
  EXPECT_EQ(Text(1022), "0");
  EXPECT_TRUE(model.Checked(kV, 1012));
  EXPECT_EQ(Texts(), std::vector<std::string>{"today normal"});
  struct Case {
    const char* field;
    bool spam, normal;
    const char* shown;
    int day;
    std::vector<std::string> texts;
  } cases[] = {
      {"3", false, true, "3", 3, {"three days back"}},
      {"abc", false, true, "0", 0, {"today normal"}},
      {"", true, false, "0", 0, {"today spam"}},
      {"0", true, true, "0", 0, {"today normal", "today spam"}},
      {"-4", false, false, "0", 0, {"today normal"}},  // both cleared: Normal again
  };
  for (const Case& c : cases) {
    model.SetText(kV, 1022, c.field);
    model.SetChecked(kV, 1011, c.spam);
    model.SetChecked(kV, 1012, c.normal);
    Update();
    EXPECT_EQ(Text(1022), c.shown) << c.field;
    EXPECT_EQ(Text(1019), storage.locations.DayText(c.day)) << c.field;
    EXPECT_EQ(viewer.DayCount(), c.day) << c.field;
    EXPECT_TRUE(model.Checked(kV, 1012) || c.spam) << c.field;
    EXPECT_EQ(Texts(), c.texts) << c.field;
  }
}

TEST_F(ViewerTest, FourLinesPerMessageAndALineSelectsItsMessage) {
  Stores({"Personal"});
  Sms(11, "+4911", "first sms", 1);
  Sms(12, "+4912", "second sms");
  // The list shows the subject, two blanks and the logged (lowered) MIME
  // text: 600 characters here, so only the first 256 are shown.
  const std::string mime = Mime("Subject: Subject\n\n") + std::string(600 - 9 - 20, 'X');
  Mail("Personal", 7, "Ann <ann@example.org>", "Subject", mime, "xxx");
  viewer.Open();
  model.SetChecked(kV, 1011, true);
  Update();
  const auto lines = model.Lines(kV, 1010);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(Text(1037), "3");
  EXPECT_EQ(lines[0], "____________1. SMS________________________________");
  EXPECT_EQ(lines[4], "____________2. SMS________________________________");
  EXPECT_EQ(lines[8], "____________1. E-MAIL________________________________");
  EXPECT_EQ(lines[9], "ann@example.org");
  EXPECT_EQ(lines[11], "Subject  subject: subject\r\n\r\n" + std::string(256 - 9 - 20, 'x'));
  EXPECT_EQ(viewer.MessageIdTable(0), (MessageKey{Kind::kSms, -1, 11}));
  EXPECT_EQ(viewer.MessageIdTable(1), (MessageKey{Kind::kSms, -1, 12}));
  EXPECT_EQ(viewer.MessageIdTable(2), (MessageKey{Kind::kMail, 0, 7}));
  EXPECT_EQ(viewer.MessageIdTable(3).kind, Kind::kNone);
  EXPECT_EQ(model.ToJson()["dialogs"]["120"]["controls"]["1010"]["spam"],
            nlohmann::json::parse("[true, false, false]"));

  // Line 6 is the time line of the second message: the whole message is chosen.
  EXPECT_EQ(Select(6), "<HTML><BODY>second sms</BODY></HTML>");
  EXPECT_EQ(Text(1014), "+4912");
  EXPECT_EQ(Text(1025), "10:02:00 AM");
  EXPECT_EQ(Text(1017), "second sms");
  EXPECT_EQ(viewer.ViewerSelection().sender, "+4912");
  EXPECT_EQ(viewer.ViewerSelection().text, "second sms");
  EXPECT_FALSE(viewer.SelectedMailText());
  EXPECT_EQ(model.PageVersion(), 1);
}

TEST_F(ViewerTest, PagesByKindStoreAndId) {
  Stores({"Home", "Work"});
  // Ids of 100,000 in both logs and in a second store: each names its own message.
  Sms(100000, "+4910", "<b>bold</b> & <i>markup</i>");
  Mail("Home", 100000, "Bob <bob@example.org>", "No HTML",
       Mime("Subject: No HTML\nContent-Type: text/plain\n\nplain words\n"), "plain words");
  Mail("Work", 100000, "Eve <eve@example.org>", "Menu",
       Mime("Subject: Menu\nContent-Type: multipart/alternative; boundary=\"b\"\n\n--b\n"
            "Content-Type: text/plain\n\ncafe\n--b\nContent-Type: text/html; "
            "charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
            "<p>Caf=E9 =\nau lait</p>\n--b--\n"),
       "cafe");
  viewer.Open();
  ASSERT_EQ(Texts().size(), 3u);
  EXPECT_EQ(viewer.MessageIdTable(1), (MessageKey{Kind::kMail, 0, 100000}));
  EXPECT_EQ(viewer.MessageIdTable(2), (MessageKey{Kind::kMail, 1, 100000}));
  struct Case {
    int line;
    std::string page;
    std::optional<std::string> mailText;
  } cases[] = {
      {3, "<HTML><BODY><b>bold</b> & <i>markup</i></BODY></HTML>", std::nullopt},
      {4, "<HTML><BODY><H2>No HTML</H2>plain words</BODY></HTML>", "No HTML plain words"},
      {9, "<p>caf\xC3\xA9 au lait</p>", "Menu cafe"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Select(c.line), c.page) << c.line;
    EXPECT_EQ(viewer.SelectedMailText(), c.mailText) << c.line;
  }
  EXPECT_EQ(viewer.PageFilePath(), root / "Varnox/cmsg.htm");
  EXPECT_EQ(model.PageVersion(), 3);

  // A page that cannot be written leaves the one shown, the fields filled.
  fs::remove_all(root / "Varnox");
  Select(0);
  EXPECT_EQ(model.PageVersion(), 3);
  EXPECT_EQ(Text(1017), "<b>bold</b> & <i>markup</i>");
}

TEST_F(ViewerTest, PlusAndMinusMoveTheDayUnlessAReloadRuns) {
  Sms(1, "+491", "yesterday", 0, 1);
  viewer.Open();
  // "-" at today does nothing: no reload shows the SMS that came meanwhile.
  Sms(2, "+492", "today");
  viewer.Command(1029);
  workers.Wait();
  EXPECT_EQ(Text(1022), "0");
  EXPECT_TRUE(Texts().empty());

  viewer.Command(1027);
  workers.Wait();
  EXPECT_EQ(Text(1022), "1");
  EXPECT_EQ(Text(1019), storage.locations.DayText(1));
  EXPECT_EQ(Texts(), std::vector<std::string>{"yesterday"});
  {
    // A reload that waits for the list lock still runs: "+" and a second
    // reload are refused, and the day stays.
    auto list = viewer.HoldList();
    ASSERT_TRUE(workers.StartListReload());
    EXPECT_FALSE(workers.StartListReload());
    viewer.Command(1027);
    EXPECT_EQ(Text(1022), "1");
    EXPECT_EQ(viewer.DayCount(), 1);
  }
  workers.Wait();
  EXPECT_EQ(Text(1019), storage.locations.DayText(1));
  viewer.Command(1029);
  workers.Wait();
  EXPECT_EQ(Texts(), std::vector<std::string>{"today"});
  EXPECT_EQ(Count("Loading..."), 3);
}

TEST_F(ViewerTest, RecheckFollowsTheRulesAndForcesTheNextPass) {
  Stores({"Personal"});
  Mail("Personal", 1, "Promo News <promo-news>", "Weekly deals", Mime("Subject: x\n\nhi\n"),
       "deals of the week");
  Mail("Personal", 2, "Ann <ann@example.org>", "Lunch", Mime("Subject: y\n\nhi\n"),
       "see you at noon", 1);
  Sms(5, "+4915", "cheap pills online now");
  ASSERT_TRUE(storage.rules.AddRule("promo", "", "", 0, 1, 90.0f));
  viewer.Open();
  EXPECT_EQ(Texts().size(), 2u);  // the SMS and the promotion, both normal

  // Held at the rules' load: a second request is absorbed by the running one.
  {
    std::lock_guard<std::shared_mutex> held(table.lock);  // the re-check waits here
    EXPECT_TRUE(workers.StartRecheck());
    EXPECT_TRUE(workers.StartRecheck());
  }
  workers.Wait();
  EXPECT_EQ(Count("Updating database..."), 1);
  EXPECT_EQ(Status("Personal.db", 1), 1);
  EXPECT_EQ(Status("Personal.db", 2), 0);
  EXPECT_EQ(Status(kSmsLogFile, 5), 0);
  EXPECT_EQ(scan.RescanRequest.load(), 1);
  // The re-check ends by reloading the list.
  EXPECT_EQ(Texts(), (std::vector<std::string>{"cheap pills online now",
                                               "Lunch  subject: y\r\n\r\nhi\r\n"}));
  EXPECT_EQ(Text(1021), "");

  // Another process adds a rule: the watch reloads the rules and re-checks.
  EXPECT_FALSE(workers.CheckRulesSignal());
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --sender '' --message 'cheap pills online now'"),
            0);
  EXPECT_TRUE(workers.CheckRulesSignal());
  workers.Wait();
  EXPECT_EQ(Status(kSmsLogFile, 5), 1);
  EXPECT_FALSE(workers.CheckRulesSignal());
}

TEST_F(ViewerTest, RecheckOfADataFolderWithOnlyTheSmsLogAndTheRules) {
  Sms(1, "+4911", "cheap pills online now");
  Sms(2, "+4912", "meeting moved to friday", 1);
  std::set<std::string> databases;
  for (const auto& e : fs::directory_iterator(storage.locations.DataFolder()))
    if (e.path().extension() == ".db") databases.insert(e.path().filename());
  ASSERT_EQ(databases, (std::set<std::string>{kSmsLogFile, kRulesFile}));
  ASSERT_TRUE(storage.rules.AddRule("", "cheap pills online now", "", 0, 0, 90.0f));
  ASSERT_TRUE(workers.StartRecheck());
  workers.Wait();
  EXPECT_EQ(Status(kSmsLogFile, 1), 1);
  EXPECT_EQ(Status(kSmsLogFile, 2), 0);
  EXPECT_EQ(scan.RescanRequest.load(), 1);
}

TEST_F(ViewerTest, NoRecheckWhileTheRulesNeverLoaded) {
  Sms(1, "+4911", "meeting moved to friday", 1);
  Exec(storage.locations.DataFolder() + kRulesFile, "DROP TABLE Rules;");
  viewer.Open();
  ASSERT_TRUE(workers.StartRecheck());
  workers.Wait();
  EXPECT_EQ(Status(kSmsLogFile, 1), 1);
  EXPECT_EQ(Text(1021), kRecheckRefused);
  EXPECT_EQ(scan.RescanRequest.load(), 0);
}

TEST_F(ViewerTest, TheRunningScanFillsTheListAndGivesWayToTheWorkers) {
  const std::string inbox = root / "Mail/Personal";
  for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox + "/" + sub);
  ASSERT_TRUE(WriteFile(inbox + "/cur/1.a.host:2,S",
                        "From: Ann <ann@example.org>\nSubject: Lunch\n\nat noon\n"));
  const struct timespec times[2] = {{clock.Now(), 0}, {clock.Now(), 0}};
  utimensat(AT_FDCWD, (inbox + "/cur/1.a.host:2,S").c_str(), times, 0);
  ASSERT_TRUE(storage.rules.AddRule("spam.example", "", "", 0, 1, 90.0f));
  InitMailHeaderParser();
  CreateHtmlConverter();
  viewer.Open();
  scan.SetHooks(ViewerScanHooks(viewer, strings));
  scan.Start();
  // The scan's pass logs the message and reloads the list through its hook.
  EXPECT_TRUE(WaitFor([&] { return Texts().size() == 1; }));
  // The pause is a flag: the re-check's own pause does nothing while the
  // scan is paused already, and its resume lets the scan go on.
  EXPECT_TRUE(workers.PauseScan());
  EXPECT_FALSE(workers.PauseScan());
  ASSERT_TRUE(workers.StartRecheck());
  workers.Wait();
  EXPECT_FALSE(workers.ResumeScan());
  EXPECT_FALSE(gate.Paused());
  EXPECT_TRUE(workers.StartListReload());
  workers.Wait();
  EXPECT_EQ(Texts().size(), 1u);
  scan.Join();  // before the viewer its hooks reach goes
}

}  // namespace
}  // namespace varnox
