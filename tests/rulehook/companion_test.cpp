// librulehook.so as the program uses it: loaded by its file name, started
// through its one export, and `varnox scan` with and without it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/shared_library.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kSms =
    "From: 491721234567\nReceived: 26-12-06 09:15:07\nAlphabet: ISO\n\nWin a prize now!";

// A root with a sender rule that asks for a response, and an empty spool.
void Prepare(const TempRoot& root) {
  for (const char* sub :
       {"Mail/Home/new", "Mail/Home/cur", "Mail/Home/tmp", "spool/incoming", "spool/outgoing"})
    fs::create_directories(root / sub);
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --by-sender --sender +4917 --message '' --use-response --response Stop"),
            0);
}

TEST(Companion, ExportsOnlyItsEntry) {
  SharedLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(RULEHOOK_LIBRARY, error)) << error;
  EXPECT_NE(library.Symbol("DllRegisterServer"), nullptr);
  // Its copies of the program's code stay private to it.
  EXPECT_EQ(library.Symbol("_ZN6varnox15GlobalRuleTableEv"), nullptr);
  EXPECT_EQ(library.Symbol("_ZN6varnox5TraceESt17basic_string_viewIcSt11char_traitsIcEE"), nullptr);
}

TEST(Companion, TheWatchingScanLogsAndAnswersAnArrivingSms) {
  TempRoot root;
  Prepare(root);
  const pid_t scan = StartScan(VARNOX_BINARY, root.path());
  ASSERT_TRUE(WriteFile(root / "spool/incoming/modem1.abcdef", kSms));
  EXPECT_TRUE(WaitFor([&] { return !FilesUnder(root / "spool/outgoing").empty(); }));
  EXPECT_EQ(StopScan(scan), 0);
  EXPECT_EQ(Query(root / "Varnox/dba/Spam_0.db", "SELECT Sender, Message, Status FROM Spam;"),
            std::vector<std::string>{"+491721234567|Win a prize now!|1"});
  const std::vector<std::string> out = FilesUnder(root / "spool/outgoing");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(testsupport::ReadAll(out[0]), "To: 4917\nReport: no\nAlphabet: UTF-8\n\nStop");
  EXPECT_TRUE(fs::exists(root / "spool/varnox-handled/modem1.abcdef"));
}

TEST(Companion, TheProgramRunsUnchangedWithoutIt) {
  TempRoot root;
  Prepare(root);
  // The program alone in a folder, where no companion lies beside it.
  const std::string lonely = root / "bin/varnox";
  fs::create_directories(root / "bin");
  fs::copy_file(VARNOX_BINARY, lonely);
  ASSERT_TRUE(WriteFile(root / "spool/incoming/modem1.abcdef", kSms));
  ASSERT_TRUE(
      WriteFile(root / "Mail/Home/new/1.a.host", "From: a@b.example\nSubject: hi\n\nhello\n"));
  const pid_t scan = StartScan(lonely, root.path());
  // The mail scan still logs its message...
  const std::string log = root / "Varnox/dba/Home.db";
  const std::vector<std::string> one{"1"};
  // The table may not be there yet while the scan creates the log.
  EXPECT_TRUE(WaitFor([&] {
    return fs::exists(log) &&
           Query(log, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'Msg';") == one &&
           Query(log, "SELECT COUNT(*) FROM Msg;") == one;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(StopScan(scan), 0);
  // ...while no SMS is taken, logged or answered.
  EXPECT_EQ(FilesUnder(root / "spool/incoming").size(), 1u);
  EXPECT_EQ(Query(root / "Varnox/dba/Spam_0.db", "SELECT COUNT(*) FROM Spam;"),
            std::vector<std::string>{"0"});
  EXPECT_TRUE(FilesUnder(root / "spool/outgoing").empty());
}

TEST(Companion, EverySmsIsLoggedOnceThoughTheProgramIsKilled) {
  TempRoot root;
  Prepare(root);
  constexpr int kMessages = 1000;
  for (int i = 0; i < kMessages; ++i) {
    ASSERT_TRUE(WriteFile(root / ("spool/incoming/GSM1." + std::to_string(i)),
                          "From: " + std::string(i % 7 == 0 ? "4917" : "4930") + std::to_string(i) +
                              "\nAlphabet: ISO\n\nmessage number " + std::to_string(i)));
  }
  // Each run is killed once it has taken a random number of files: in the
  // middle of the handling, wherever that is.
  std::mt19937 random(5);
  std::size_t left = kMessages;
  for (int round = 0; round < 6 && left > 0; ++round) {
    const std::size_t stopAt = left - std::min<std::size_t>(left, 1 + random() % 250);
    const pid_t scan = StartScan(VARNOX_BINARY, root.path());
    WaitFor([&] { return (left = FilesUnder(root / "spool/incoming").size()) <= stopAt; });
    kill(scan, SIGKILL);
    waitpid(scan, nullptr, 0);
  }
  const pid_t scan = StartScan(VARNOX_BINARY, root.path());
  EXPECT_TRUE(WaitFor([&] { return FilesUnder(root / "spool/incoming").empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past its start-up
  EXPECT_EQ(StopScan(scan), 0);

  const std::string log = root / "Varnox/dba/Spam_0.db";
  const std::string all = std::to_string(kMessages);
  EXPECT_EQ(Query(log, "SELECT COUNT(*), COUNT(DISTINCT Message), COUNT(DISTINCT Id) FROM Spam;"),
            std::vector<std::string>{all + "|" + all + "|" + all});
  EXPECT_EQ(Query(log, "SELECT COUNT(*) FROM Spam WHERE Status = 1;"),
            std::vector<std::string>{std::to_string((kMessages + 6) / 7)});
  // Each file was moved once, under its own name.
  EXPECT_EQ(FilesUnder(root / "spool/varnox-handled").size(), static_cast<std::size_t>(kMessages));
  EXPECT_FALSE(fs::exists(root / "spool/varnox-handled/GSM1.0.1"));
}

}  // namespace
}  // namespace varnox
