// The send dialog, the help command and the viewer's "why" line, driven
// through the main window on a real temporary root: real logs, rule
// database, spool folders and help pages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "analysis/tokenizer.h"
#include "app/main_window.h"
#include "app/rule_editor.h"
#include "app/viewer.h"
#include "app/viewer_fixture.h"
#include "app/workers.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// Every path below folder, folders included: what a search must leave alone.
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) out.insert(e.path().string());
  return out;
}

class SendHelpTest : public ViewerFixture {
 protected:
  SendHelpTest() {
    Stores({"Personal"});
    fs::create_directories(root / "spool/outgoing");
  }
  void Mail(int id, const std::string& from, const std::string& subject, const std::string& text) {
    ViewerFixture::Mail("Personal", id, from, subject, "Subject: x", text);
  }
  // Runs a command of dialog on the user-interface thread, as a request does.
  void Command(const std::string& dialog, int id) {
    ASSERT_TRUE(ui.Run([&] { window.Command(dialog, id); }));
  }
  void SelectMessage(int message) { Select(message * 4); }
  std::vector<std::string> Outgoing() { return FilesUnder(root / "spool/outgoing"); }

  UiThread ui{model};
  SmsSender sms{root / "spool"};
  RuleEditor editor{model,   storage, viewer,
                    workers, strings, [](const std::string&, const std::string&) { return 1; }};
  MainWindow window{model, viewer, workers, editor, [] {}, {ui, sms, strings, {"", root.path()}}};
};

TEST_F(SendHelpTest, SendWritesOneSpoolFileOrSaysWhyNot) {
  window.Create();
  Command("main", kCmdSend);
  ASSERT_EQ(model.Modal(), kSendDialog);
  EXPECT_EQ(model.Text(kSendDialog, kSendRecipient), "");  // no selection yet
  EXPECT_EQ(model.ToJson()["dialogs"]["121"]["controls"]["1000"]["digits"], true);
  struct Case {
    const char* recipient;
    const char* message;
    bool confirmation;
    const char* status;
    const char* header;  // in the spool file; null when nothing is sent
  } cases[] = {
      {"+4915", "Call me", true, "Sent.", "To: 4915\nReport: yes\n"},
      {"4916", "Call me", false, "Sent.", "To: 4916\nReport: no\n"},
      {"4915", "", true, "Not sent: the message is empty.", nullptr},
      {"", "Call me", true, "Not sent: the recipient is empty.", nullptr},
      {"", "", false, "Not sent: the recipient is empty.", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.recipient) + "/" + c.message);
    model.SetText(kSendDialog, kSendRecipient, c.recipient);
    model.SetText(kSendDialog, kSendMessage, c.message);
    model.SetChecked(kSendDialog, kSendConfirmation, c.confirmation);
    Command(kSendDialog, kSendButton);
    EXPECT_EQ(model.Text(kSendDialog, kSendStatus), c.status);
    const auto files = Outgoing();
    ASSERT_EQ(files.size(), c.header ? 1u : 0u);
    if (c.header) {
      const std::string file = ReadAll(files[0]);
      EXPECT_NE(file.find(c.header), std::string::npos) << file;
      EXPECT_NE(file.find("\n\nCall me"), std::string::npos) << file;
      fs::remove(files[0]);
    }
    // The dialog stays open and its fields keep their texts.
    EXPECT_EQ(model.Modal(), kSendDialog);
    EXPECT_EQ(model.Text(kSendDialog, kSendMessage), c.message);
  }

  // A spool that cannot be written: nothing sent, and the status says why.
  fs::remove(root / "spool/outgoing");
  ASSERT_TRUE(WriteFile(root / "spool/outgoing", "not a folder"));
  model.SetText(kSendDialog, kSendRecipient, "4915");
  model.SetText(kSendDialog, kSendMessage, "Call me");
  Command(kSendDialog, kSendButton);
  const std::string status = model.Text(kSendDialog, kSendStatus);
  EXPECT_EQ(status.rfind("Not sent: the spool is not writable: ", 0), 0u) << status;
  EXPECT_NE(status.find(root / "spool/outgoing"), std::string::npos) << status;
  EXPECT_EQ(ReadAll(root / "spool/outgoing"), "not a folder");

  for (int close : {1, 2, 20013, 20015}) {
    Command("main", kCmdSend);
    Command(kSendDialog, close);
    EXPECT_FALSE(model.IsOpen(kSendDialog)) << close;
  }
}

TEST_F(SendHelpTest, RecipientComesFromTheSelectionWithItsPlus) {
  Sms(1, "+491701234", "Hello there");
  window.Create();
  SelectMessage(0);
  Command("main", kCmdSend);
  EXPECT_EQ(model.Text(kSendDialog, kSendRecipient), "+491701234");
  model.SetText(kSendDialog, kSendMessage, "Hi");
  Command(kSendDialog, kSendButton);
  ASSERT_EQ(Outgoing().size(), 1u);
  EXPECT_NE(ReadAll(Outgoing()[0]).find("To: 491701234\n"), std::string::npos);
}

TEST_F(SendHelpTest, HelpTakesTheFirstPageThatExists) {
  const std::string inst = root / "inst";
  fs::create_directories(inst);
  struct Case {
    const char* language;
    bool installFolder;  // else none was found
    std::vector<std::string> pages;
    const char* found;  // null: none
  } cases[] = {
      // German asked, only English installed: the English page.
      {"deu", true, {"inst/Help/eng/index.eng.htm"}, "inst/Help/eng/index.eng.htm"},
      {"deu",
       true,
       {"inst/Help/eng/index.eng.htm", "inst/Help/deu/index.deu.htm"},
       "inst/Help/deu/index.deu.htm"},
      // The language under the program-files folder comes before English.
      {"deu",
       true,
       {"inst/Help/eng/index.eng.htm", "Varnox/Help/deu/index.deu.htm"},
       "Varnox/Help/deu/index.deu.htm"},
      {"deu", true, {"Varnox/Help/eng/index.eng.htm"}, "Varnox/Help/eng/index.eng.htm"},
      // No install folder: the program-files folder's pages.
      {"deu", false, {"Varnox/Help/deu/index.deu.htm"}, "Varnox/Help/deu/index.deu.htm"},
      {"deu", false, {"Varnox/Help/eng/index.eng.htm"}, "Varnox/Help/eng/index.eng.htm"},
      {"deu", true, {"inst/Help/fra/index.fra.htm"}, nullptr},
      {"eng", false, {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.found ? c.found : "none");
    fs::remove_all(root / "Varnox/Help");
    fs::remove_all(inst + "/Help");
    for (const std::string& p : c.pages) {
      fs::create_directories(fs::path(root / p).parent_path());
      ASSERT_TRUE(WriteFile(root / p, p));
    }
    const auto before = Tree(root.path());
    const int version = model.HelpVersion();
    HelpPage page;
    std::string found = "unset";
    ASSERT_TRUE(ui.Run([&] {
      found = ShowHelp(model, ui, strings, {c.installFolder ? inst : "", root.path()}, c.language,
                       page);
    }));
    if (c.found) {
      EXPECT_EQ(found, root / c.found);
      EXPECT_EQ(page.Path(), found);
      EXPECT_EQ(model.HelpVersion(), version + 1);
      EXPECT_FALSE(model.MessageBox());
    } else {
      const auto box = model.MessageBox();
      ASSERT_TRUE(box);
      EXPECT_EQ(box->text, "Unable to locate help file.");
      EXPECT_EQ(box->caption, "Error");
      EXPECT_EQ(box->buttons, (std::vector<std::string>{"OK", "Cancel"}));
      ASSERT_TRUE(ui.Answer(2));
      EXPECT_EQ(found, "");
      EXPECT_EQ(page.Path(), "");
      EXPECT_EQ(model.HelpVersion(), version);
    }
    EXPECT_EQ(Tree(root.path()), before);  // the search creates nothing
  }
}

TEST_F(SendHelpTest, HelpCommandServesThePageOrSaysItCannot) {
  window.Create();
  const std::string page = root / "Varnox/Help/eng/index.eng.htm";
  fs::create_directories(root / "Varnox/Help/eng");
  // A pipe passes the existence test but is no page to serve.
  ASSERT_EQ(::mkfifo(page.c_str(), 0600), 0);
  Command("main", kCmdHelp);
  auto box = model.MessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "Failed to start help.");
  EXPECT_EQ(box->caption, "Error");
  ASSERT_TRUE(ui.Answer(1));
  EXPECT_EQ(window.HelpFilePath(), "");
  EXPECT_EQ(model.HelpVersion(), 0);

  fs::remove(page);
  ASSERT_TRUE(WriteFile(page, "<p>Help</p>"));
  Command("main", kCmdHelp);
  EXPECT_FALSE(model.MessageBox());
  EXPECT_EQ(window.HelpFilePath(), page);  // what GET /help serves
  EXPECT_EQ(model.HelpVersion(), 1);
  EXPECT_EQ(model.ToJson()["dialogs"]["main"]["helpVersion"], 1);
}

TEST_F(SendHelpTest, WhyLineNamesTheRuleThatMarksTheMessageNow) {
  Sms(1, "+4915", "cheap pills online now");
  Sms(2, "+4916", "see you at noon");
  Mail(3, "Promo News <promo-news@example.org>", "Weekly deals", "deals of the week");
  ASSERT_TRUE(storage.rules.AddRule("promo", "", "", 0, 1, 90.0f));
  ASSERT_TRUE(storage.rules.AddRule("", "cheap pills online now", "", 0, 0, 80.0f));
  ASSERT_TRUE(storage.rules.LoadRules());
  window.Create();
  const std::string spamBy = "Spam by rule ";
  const std::string cases[] = {
      spamBy + "2, message rule: hits 4, similarity 1 100.00, similarity 2 100.00, certainty 80",
      "No rule marks it as spam.",
      spamBy + "1, sender rule: promo",
  };
  for (int i = 0; i < 3; ++i) {
    SelectMessage(i);
    EXPECT_EQ(model.Text(kViewerDialog, kWhyField), cases[i]) << i;
  }
  // Only read: the logged verdicts are as they were.
  EXPECT_EQ(Query(storage.locations.DataFolder() + kSmsLogFile, "SELECT Status FROM Spam;"),
            (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(Query(storage.locations.DataFolder() + "Personal.db", "SELECT Status FROM Msg;"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(model.Text(kViewerDialog, kWhyLabel), "Why");

  // Every word of the line follows the language.
  const std::pair<int, const char*> german[] = {
      {136, "Spam laut"}, {138, "Regel"},         {139, "Absenderregel"}, {140, "Nachrichtenregel"},
      {141, "Treffer"},   {142, "Ähnlichkeit 1"}, {143, "Ähnlichkeit 2"}, {144, "Sicherheit"}};
  for (const auto& [id, text] : german) ASSERT_TRUE(strings.Set(id, text)) << id;
  SelectMessage(0);
  EXPECT_EQ(model.Text(kViewerDialog, kWhyField),
            "Spam laut Regel 2, Nachrichtenregel: Treffer 4, Ähnlichkeit 1 100.00, "
            "Ähnlichkeit 2 100.00, Sicherheit 80");
  SelectMessage(2);
  EXPECT_EQ(model.Text(kViewerDialog, kWhyField), "Spam laut Regel 1, Absenderregel: promo");
}

TEST_F(SendHelpTest, WhyLineStaysEmptyWhenTheRulesCannotBeRead) {
  // A program started on a rule database that is no database: no rule was
  // ever loaded, which must not read as "no rule marks it".
  Sms(1, "+4915", "cheap pills online now");
  Garble(storage.locations.DataFolder() + kRulesFile);
  RuleTable unread;
  Storage started(root.path(), clock, unread);
  started.InitStorage(1, nullptr);
  WindowModel shown;
  Viewer other{shown, started, scan, root / "Varnox", strings};
  other.Open();
  shown.SetSelected(kViewerDialog, 1010, 0);
  other.SelectionChanged(1010);
  EXPECT_EQ(shown.Text(kViewerDialog, 1014), "+4915");
  EXPECT_FALSE(started.rules.RulesLoaded());
  EXPECT_EQ(shown.Text(kViewerDialog, kWhyField), "");
}

}  // namespace
}  // namespace varnox
