// Outgoing SMS through a real spool folder and the automatic responses; the
// send and check commands as a user runs them.
#include <gtest/gtest.h>

#include <filesystem>

#include "mailstore/auto_response.h"
#include "platform/sms_spool.h"
#include "storage/init_storage.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

std::vector<std::string> Outgoing(const std::string& spool) {
  std::vector<std::string> texts;
  for (const std::string& file : FilesUnder(spool + "/outgoing")) texts.push_back(ReadAll(file));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Each message is one complete file in outgoing/, with the digits of the
// first 256 characters of the number; no digits, or no spool, send nothing.
TEST(SmsSpool, AMessageIsOneCompleteFileOrNone) {
  EXPECT_EQ(SpoolNumber("+49 (172) 12-34\nFlash: yes"), "491721234");
  EXPECT_EQ(SpoolNumber(std::string(255, 'x') + "12"), "1");
  TempRoot spool;
  fs::create_directories(spool / "outgoing");
  std::string error;
  ASSERT_TRUE(WriteSpoolMessage(spool.path(), "+49 172-123 4567", "Grüße!\nBye", true, error));
  ASSERT_TRUE(WriteSpoolMessage(spool.path(), "0049172", "second", false, error));
  EXPECT_FALSE(WriteSpoolMessage(spool.path(), "Mum", "hi", false, error));
  EXPECT_NE(error.find("digits"), std::string::npos);
  EXPECT_EQ(
      Outgoing(spool.path()),
      (std::vector<std::string>{"To: 0049172\nReport: no\nAlphabet: UTF-8\n\nsecond",
                                "To: 491721234567\nReport: yes\nAlphabet: UTF-8\n\nGrüße!\nBye"}));
  // Nothing is left half-written beside the queue.
  EXPECT_TRUE(fs::is_empty(spool / ".varnox"));

  error.clear();
  EXPECT_FALSE(WriteSpoolMessage(spool / "no-spool", "123", "hi", false, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(spool / "no-spool"));
  SmsSender(spool / "no-spool").SendSms(0, "123", "hi");  // swallows the failure
}

TEST(AutoResponse, EachRequestOfAResponseRuleIsAnsweredOnce) {
  TempRoot root;
  FixedClock clock{1700000000};
  RuleTable table;
  Storage storage(root.path(), clock, table);
  storage.InitStorage(1, nullptr);
  fs::create_directories(root / "spool/outgoing");
  SmsSender sender(root / "spool");
  PauseGate gate{false};
  // A request that meets an empty rule table is answered by nobody.
  ASSERT_TRUE(storage.locations.AppendResponseRequest(1));
  EXPECT_EQ(AutoResponder(storage.locations, storage.rules, sender, gate).RunCycle(), 0);
  ASSERT_TRUE(storage.rules.AddRule("+4917", "", "Please stop.", 1, 1, 90.0f));  // Id 1
  ASSERT_TRUE(storage.rules.AddRule("+4918", "", "Not sent", 0, 1, 90.0f));      // Id 2
  storage.rules.LoadRules();
  int reloads = 0;
  AutoResponder responder(storage.locations, storage.rules, sender, gate, [&] { ++reloads; });
  EXPECT_EQ(responder.RunCycle(), 0);  // no request file
  EXPECT_EQ(reloads, 0);

  // Rule 1 twice, rule 2 (its response off), and 99, no rule at all.
  for (int id : {1, 1, 2, 99}) ASSERT_TRUE(storage.locations.AppendResponseRequest(id));
  EXPECT_EQ(responder.RunCycle(), 2);
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(Outgoing(root / "spool"),
            std::vector<std::string>(2, "To: 4917\nReport: no\nAlphabet: UTF-8\n\nPlease stop."));
  EXPECT_EQ(responder.RunCycle(), 0);  // consumed
}

TEST(SendCommand, QueuesAMessageOrSaysWhyNot) {
  TempRoot root;
  fs::create_directories(root / "spool/outgoing");
  auto run = [&](const std::string& args) {
    return testsupport::RunVarnox("send --root " + root.path() + " " + args);
  };
  EXPECT_EQ(run("--report +491721234567 'Hello there'"), 0);
  EXPECT_EQ(
      Outgoing(root / "spool"),
      std::vector<std::string>{"To: 491721234567\nReport: yes\nAlphabet: UTF-8\n\nHello there"});
  EXPECT_EQ(run("--sms-spool " + root / "missing" + " 123 hi"), 1);
  EXPECT_EQ(run("Mum hi"), 1);
}

TEST(CheckCommand, ExitStatusTellsTheVerdict) {
  TempRoot root;
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --sender '' --message 'cheap watches replica luxury brands'"),
            0);
  ASSERT_TRUE(WriteFile(root / "spam.eml",
                        "From: a@b.example\nSubject: Replica\nContent-Type: text/plain\n\n"
                        "Cheap replica watches of luxury brands!\n"));
  ASSERT_TRUE(WriteFile(root / "ham.eml", "From: mum@example.org\nSubject: Sunday\n\nLunch?\n"));
  // Of several files, the last one's verdict counts, and any that is missing.
  const std::string check = "check --root " + root.path() + " " + root.path();
  EXPECT_EQ(RunVarnox(check + "/spam.eml"), 1);
  EXPECT_EQ(RunVarnox(check + "/ham.eml"), 0);
  EXPECT_EQ(RunVarnox(check + "/missing.eml"), 2);
  EXPECT_EQ(RunVarnox(check + "/spam.eml " + root / "ham.eml"), 0);
  EXPECT_EQ(RunVarnox(check + "/ham.eml " + root / "missing.eml"), 2);
}

}  // namespace
}  // namespace varnox
