// The rule editor driven through the main window on the window model, on a
// real temporary root with real logs, Maildirs and a real rules database.
#include "app/rule_editor.h"

#include <gtest/gtest.h>

#include <utility>

#include "app/main_window.h"
#include "app/viewer_fixture.h"

namespace varnox {
namespace {

using namespace testsupport;
using Box = std::pair<std::string, std::string>;

constexpr char kE[] = "119";

class RuleEditorTest : public ViewerFixture {
 protected:
  void Open() { window.Command("main", kCmdRules); }
  void Tap(int id) { window.Command(kE, id); }
  void Fill(const std::string& sender, const std::string& message, const std::string& response = "",
            bool bySender = false, bool useResponse = false) {
    model.SetText(kE, 1031, sender);
    model.SetText(kE, 1032, message);
    model.SetText(kE, 1035, response);
    model.SetChecked(kE, 1030, bySender);
    model.SetChecked(kE, 1036, useResponse);
  }
  void SelectRule(int line) {
    model.SetSelected(kE, 1026, line);
    window.SelectionChanged(kE, 1026);
  }
  std::string Field(int id) { return model.Text(kE, id); }
  // The stored rules by Id: sender|message|response|use-response|by-sender|certainty.
  std::vector<std::string> Rules() {
    return Query(storage.locations.DataFolder() + kRulesFile,
                 "SELECT Sender, Message, Response, UseResponse, FilterBySender, Certainty "
                 "FROM Rules ORDER BY Id;");
  }
  // The second line of each listed rule: its sender.
  std::vector<std::string> ListedSenders() {
    std::vector<std::string> out;
    const auto lines = model.Lines(kE, 1026);
    for (std::size_t i = 1; i < lines.size(); i += 3) out.push_back(lines[i]);
    return out;
  }
  std::int64_t Signal() { return RulesSignalStamp(storage.locations.DataFolder()); }
  Box Strings(int text, int caption) { return {strings.Get(text), strings.Get(caption)}; }

  std::vector<Box> boxes;
  RuleEditor editor{model,
                    storage,
                    viewer,
                    workers,
                    strings,
                    [this](const std::string& text, const std::string& caption) {
                      boxes.emplace_back(text, caption);
                      return 1;
                    }};
  UiThread ui{model};
  SmsSender sms{root / "spool"};
  MainWindow window{model, viewer, workers, editor, [] {}, {ui, sms, strings, {"", root.path()}}};
};

TEST_F(RuleEditorTest, AddStoresWhatTheFieldsSayOrWarns) {
  Open();
  EXPECT_EQ(model.Modal(), kE);
  EXPECT_EQ(Field(1038), "0");
  struct Case {
    const char *sender, *message, *response;
    bool bySender, useResponse;
    std::vector<Box> boxes;  // none: stored as the last rule
    const char* stored;
  } cases[] = {
      // Neither sender nor message: refused, whatever the response holds.
      {"", "", "Call me", false, true, {Strings(120, 123)}, nullptr},
      {"", "", "", true, false, {Strings(120, 123)}, nullptr},
      // A sender rule without a sender would match every message.
      {"", "cheap pills", "", true, false, {Strings(131, 123)}, nullptr},
      {"promo", "", "", false, false, {}, "promo|||0|0|90"},
      {"+4915", "", "Not now", true, true, {}, "+4915||Not now|1|1|90"},
      {"", "cheap pills", "", false, false, {}, "|cheap pills||0|0|90"},
  };
  std::vector<std::string> stored;
  for (const Case& c : cases) {
    boxes.clear();
    Fill(c.sender, c.message, c.response, c.bySender, c.useResponse);
    Tap(1033);
    EXPECT_EQ(boxes, c.boxes) << c.sender << "/" << c.message;
    if (c.stored) stored.push_back(c.stored);
    EXPECT_EQ(Rules(), stored) << c.sender << "/" << c.message;
    // The list is not refilled and the fields keep their texts.
    EXPECT_EQ(Field(1038), "0");
    EXPECT_EQ(Field(1031), c.sender);
  }
}

TEST_F(RuleEditorTest, AddTakesTheMailTextOnlyWhileTheFieldShowsThatMail) {
  Stores({"Personal"});
  Sms(3, "+4913", "call back later");
  Mail("Personal", 7, "Ann <ann@example.org>", "Cheap Pills",
       Mime("Subject: Cheap Pills\n\nbuy cheap pills now\n"), "buy cheap pills now");
  viewer.Open();
  const std::string mailText = "Cheap Pills buy cheap pills now";
  const std::string listLine = "Cheap Pills  subject: cheap pills\r\n\r\nbuy cheap pills now\r\n";
  struct Case {
    std::vector<int> selected;  // viewer lines, in order
    const char* edit;           // the field as the user leaves it; null: as opened
    std::string stored;         // sender|message
  } cases[] = {
      {{4}, nullptr, "ann@example.org|" + mailText},
      // A browser's field hands CR LF back as LF: still that mail.
      {{4},
       "Cheap Pills  subject: cheap pills\n\nbuy cheap pills now\n",
       "ann@example.org|" + mailText},
      {{4}, "pills", "ann@example.org|pills"},
      {{4}, "", "ann@example.org|"},
      {{4, 0}, nullptr, "+4913|call back later"},
  };
  for (const Case& c : cases) {
    for (int line : c.selected) Select(line);
    Exec(storage.locations.DataFolder() + kRulesFile, "DELETE FROM Rules;");
    Open();
    EXPECT_EQ(Field(1032), c.selected.back() == 4 ? listLine : "call back later");
    EXPECT_EQ(Field(1035), "");
    if (c.edit) model.SetText(kE, 1032, c.edit);
    Tap(1033);
    Tap(20013);
    workers.Wait();
    EXPECT_EQ(
        Query(storage.locations.DataFolder() + kRulesFile, "SELECT Sender, Message FROM Rules;"),
        std::vector<std::string>{c.stored})
        << c.selected.size() << (c.edit ? c.edit : "(as opened)");
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(RuleEditorTest, ListsThreeLinesPerRuleAndReplacesAnEqualRule) {
  ASSERT_TRUE(storage.rules.AddRule("promo", "Weekly deals inside", "", 0, 1, 75.0f));
  ASSERT_TRUE(storage.rules.AddRule("+4915", "", "Not now", 1, 1, 90.0f));
  Open();
  EXPECT_EQ(
      model.Lines(kE, 1026),
      (std::vector<std::string>{
          "____________1. Rule________________________________", "promo", "Weekly deals inside",
          "____________2. Rule________________________________", "+4915", ""}));
  EXPECT_EQ(Field(1038), "2");
  // A line of a rule fills the fields and both boxes.
  SelectRule(5);
  EXPECT_EQ(Field(1031), "+4915");
  EXPECT_EQ(Field(1035), "Not now");
  EXPECT_TRUE(model.Checked(kE, 1030));
  EXPECT_TRUE(model.Checked(kE, 1036));
  SelectRule(0);
  EXPECT_EQ(Field(1032), "Weekly deals inside");
  EXPECT_FALSE(model.Checked(kE, 1036));
  // The same sender and words replace the rule under its Id.
  Fill("promo", "WEEKLY deals, inside!", "", true);
  Tap(1033);
  EXPECT_EQ(Rules(), (std::vector<std::string>{"promo|WEEKLY deals, inside!||0|1|90",
                                               "+4915||Not now|1|1|90"}));
  Tap(2);
  Open();
  EXPECT_EQ(ListedSenders(), (std::vector<std::string>{"promo", "+4915"}));
}

TEST_F(RuleEditorTest, DeleteActsOnTheFieldsAndTheSelectedLines) {
  // Stored by another program: Latin-1 bytes, listed as valid UTF-8.
  for (const char* sender : {"caf\xE9", "two", "three"})
    ASSERT_TRUE(storage.rules.AddRule(sender, "line a\r\nline b", "", 0, 1, 90.0f));
  const std::string cafe = "caf\xEF\xBF\xBD";
  Open();
  struct Case {
    int line;            // -1: none selected
    const char* sender;  // null: as the selection filled it
    const char* message;
    std::vector<Box> boxes;
    std::vector<std::string> listed, stored;  // senders
  } cases[] = {
      {-1,
       "two",
       "line a\r\nline b",
       {Strings(124, 123)},
       {cafe, "two", "three"},
       {"caf\xE9", "two", "three"}},
      // Edited so that they name no rule: the lines go, the rule stays.
      {4, "nobody", "line a\r\nline b", {}, {cafe, "three"}, {"caf\xE9", "two", "three"}},
      // The fields as the selection filled them and a browser hands them
      // back, LF for CR LF: that rule.
      {0, nullptr, "line a\nline b", {}, {"three"}, {"two", "three"}},
  };
  for (const Case& c : cases) {
    boxes.clear();
    if (c.line >= 0) SelectRule(c.line);
    if (c.line == 0) {
      EXPECT_EQ(Field(1031), cafe);
    }
    Fill(c.sender ? c.sender : Field(1031), c.message, "reply");
    Tap(1034);
    EXPECT_EQ(boxes, c.boxes) << c.line;
    EXPECT_EQ(ListedSenders(), c.listed) << c.line;
    std::vector<std::string> stored;
    for (const auto& rule : Rules()) stored.push_back(rule.substr(0, rule.find('|')));
    EXPECT_EQ(stored, c.stored) << c.line;
    EXPECT_EQ(Field(1031), c.boxes.empty() ? "" : c.sender) << c.line;
    EXPECT_EQ(Field(1035), c.boxes.empty() ? "" : "reply") << c.line;
    EXPECT_EQ(Field(1038), "3") << c.line;  // until the next fill
  }
  // A delete that fails leaves list and fields as they were.
  Exec(storage.locations.DataFolder() + kRulesFile, "DROP TABLE Rules;");
  SelectRule(0);
  const std::string sender = Field(1031);
  boxes.clear();
  Tap(1034);
  EXPECT_EQ(boxes, std::vector<Box>{Strings(125, 118)});
  EXPECT_EQ(ListedSenders(), std::vector<std::string>{"three"});
  EXPECT_EQ(Field(1031), sender);
  EXPECT_EQ(model.Selected(kE, 1026), 0);
}

TEST_F(RuleEditorTest, TheScanStandsWhileOpenAndAChangeIsRecheckedOnClosing) {
  // Every way of closing without a change: the scan goes on, nothing else.
  const std::int64_t signal = Signal();
  for (int close : {1, 2, 20013, 20015, -1}) {
    Open();
    EXPECT_TRUE(gate.Paused()) << close;
    Fill("", "x", "", true);
    Tap(1033);  // refused: no sender for a sender rule
    // -1: the browser went away, and the dialog is closed as by Cancel.
    close < 0 ? window.Abandoned(kE) : Tap(close);
    EXPECT_FALSE(model.IsOpen(kE)) << close;
    EXPECT_EQ(model.Modal(), "") << close;
    EXPECT_FALSE(gate.Paused()) << close;
  }
  workers.Wait();
  EXPECT_EQ(Signal(), signal);
  EXPECT_EQ(Count("Updating database..."), 0);
  EXPECT_EQ(scan.RescanRequest.load(), 0);

  // A rule added: closing signals it, reloads the rules and re-checks, and
  // the viewer's verdicts follow.
  Sms(5, "+4915", "cheap pills online now");
  Sms(6, "+4916", "see you at noon");
  viewer.Open();
  ASSERT_EQ(Texts().size(), 2u);
  Open();
  Fill("", "Cheap pills online now");
  Tap(1033);
  EXPECT_EQ(Status(kSmsLogFile, 5), 0);  // not before the closing
  Tap(20013);
  // The re-check the closing starts pauses the scan for its own run, so the
  // editor's resume is seen once it has ended.
  workers.Wait();
  EXPECT_FALSE(gate.Paused());
  EXPECT_NE(Signal(), signal);
  EXPECT_EQ(Status(kSmsLogFile, 5), 1);
  EXPECT_EQ(Status(kSmsLogFile, 6), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{"see you at noon"});
}

}  // namespace
}  // namespace varnox
