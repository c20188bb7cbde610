// librulehook.so as the program uses it: loaded by its file name, started
// through its one export, and `varnox scan` in the foreground with and
// without it, as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

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

// A root with one store and a sender rule that asks for a response.
void Prepare(const TempRoot& root) {
  for (const char* sub : {"Mail/Home/new", "Mail/Home/cur", "Mail/Home/tmp"})
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

// The program alone in a folder, where no companion lies beside it, logs its
// mail on its first pass and makes the default spool, but takes no SMS;
// beside its companion it then logs and answers it, and answers requests for
// a response rule added while it runs. It runs once per root until
// interrupted.
TEST(Companion, TheProgramRunsWithoutItAndWithItAnswersSms) {
  TempRoot root;
  Prepare(root);
  const std::string lonely = root / "bin/varnox";
  fs::create_directories(root / "bin");
  fs::copy_file(VARNOX_BINARY, lonely);
  ASSERT_TRUE(
      WriteFile(root / "Mail/Home/new/1.a.host", "From: a@b.example\nSubject: hi\n\nhello\n"));
  pid_t scan = StartScan(lonely, root.path());
  const std::string log = root / "Varnox/dba/Home.db";
  const std::vector<std::string> one{"1"};
  // The table may not be there yet while the scan creates the log.
  EXPECT_TRUE(WaitFor([&] {
    return fs::exists(log) &&
           Query(log, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'Msg';") == one &&
           Query(log, "SELECT COUNT(*) FROM Msg;") == one;
  }));
  EXPECT_TRUE(fs::is_directory(root / "spool/outgoing"));
  ASSERT_TRUE(WriteFile(root / "spool/incoming/modem1.abcdef", kSms));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(StopScan(scan), 0);
  const std::string sms = root / "Varnox/dba/Spam_0.db";
  EXPECT_EQ(FilesUnder(root / "spool/incoming").size(), 1u);
  EXPECT_EQ(Query(sms, "SELECT COUNT(*) FROM Spam;"), std::vector<std::string>{"0"});
  EXPECT_TRUE(FilesUnder(root / "spool/outgoing").empty());

  scan = StartScan(VARNOX_BINARY, root.path());
  EXPECT_TRUE(WaitFor([&] { return !FilesUnder(root / "spool/outgoing").empty(); }));
  EXPECT_EQ(Query(sms, "SELECT Sender, Message, Status FROM Spam;"),
            std::vector<std::string>{"+491721234567|Win a prize now!|1"});
  const std::vector<std::string> out = FilesUnder(root / "spool/outgoing");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(ReadAll(out[0]), "To: 4917\nReport: no\nAlphabet: UTF-8\n\nStop");
  EXPECT_TRUE(fs::exists(root / "spool/varnox-handled/modem1.abcdef"));
  // The new rule is loaded once rs.dat is renewed; its request is answered.
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --by-sender --sender +4930 --message '' --use-response --response Go"),
            0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_TRUE(WriteFile(root / "Varnox/dba/ss.dat", "2\n"));
  EXPECT_TRUE(WaitFor([&] { return FilesUnder(root / "spool/outgoing").size() == 2; }));
  EXPECT_FALSE(fs::exists(root / "Varnox/dba/ss.dat"));

  EXPECT_EQ(RunVarnox("scan --once --root " + root.path()), 255);  // a second scan on the root
  TempRoot other;
  EXPECT_EQ(RunVarnox("scan --once --root " + other.path()), 0);  // another root runs side by side
  EXPECT_EQ(StopScan(scan, SIGINT), 0);
  EXPECT_EQ(RunVarnox("scan --once --root " + root.path()), 0);  // the lock went with it
}

TEST(Companion, EverySmsIsLoggedOnceThoughTheProgramIsKilled) {
  TempRoot root;
  Prepare(root);
  fs::create_directories(root / "spool/incoming");
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

  const std::string all = std::to_string(kMessages);
  EXPECT_EQ(Query(root / "Varnox/dba/Spam_0.db",
                  "SELECT COUNT(*), COUNT(DISTINCT Message), COUNT(DISTINCT Id), SUM(Status) "
                  "FROM Spam;"),
            std::vector<std::string>{all + "|" + all + "|" + all + "|" +
                                     std::to_string((kMessages + 6) / 7)});
  // Each file was moved once, under its own name.
  EXPECT_EQ(FilesUnder(root / "spool/varnox-handled").size(), static_cast<std::size_t>(kMessages));
  EXPECT_FALSE(fs::exists(root / "spool/varnox-handled/GSM1.0.1"));
}

}  // namespace
}  // namespace varnox
