// `varnox scan` in the foreground and `varnox check` as a user runs them.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

TEST(ScanCommand, RunsUntilInterruptedAndOnlyOnceARoot) {
  TempRoot root;
  const std::string inbox = root / "Mail/Home";
  for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox + "/" + sub);
  ASSERT_TRUE(WriteFile(inbox + "/new/1.a.host", "From: x@spam.example\nSubject: hi\n\nbuy\n"));
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --by-sender --sender spam.example --message ''"),
            0);

  const pid_t scan = StartScan(VARNOX_BINARY, root.path());
  // The first pass files the message without waiting for a change.
  EXPECT_TRUE(WaitFor([&] { return fs::exists(inbox + "/.Spam/new/1.a.host"); }));
  // The default spool is made ready for smsd.
  EXPECT_TRUE(fs::is_directory(root / "spool/incoming"));
  EXPECT_TRUE(fs::is_directory(root / "spool/outgoing"));

  // A response rule added while the scan runs is loaded (rs.dat is renewed),
  // and a request for it is answered through the spool within seconds.
  fs::create_directories(root / "spool/outgoing");
  ASSERT_EQ(RunVarnox("rules add --root " + root.path() +
                      " --by-sender --sender +4917 --message '' --use-response --response Stop"),
            0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_TRUE(WriteFile(root / "Varnox/dba/ss.dat", "2\n"));
  EXPECT_TRUE(WaitFor([&] { return !fs::is_empty(root / "spool/outgoing"); }));
  EXPECT_FALSE(fs::exists(root / "Varnox/dba/ss.dat"));

  EXPECT_EQ(RunVarnox("scan --once --root " + root.path()), 255);  // a second scan on the root
  TempRoot other;
  EXPECT_EQ(RunVarnox("scan --once --root " + other.path()), 0);  // another root runs side by side

  EXPECT_EQ(StopScan(scan, SIGINT), 0);
  EXPECT_EQ(RunVarnox("scan --once --root " + root.path()), 0);  // the lock went with it
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
  EXPECT_EQ(RunVarnox("check --root " + root.path() + " " + root / "spam.eml"), 1);
  EXPECT_EQ(RunVarnox("check --root " + root.path() + " " + root / "ham.eml"), 0);
  EXPECT_EQ(RunVarnox("check --root " + root.path() + " " + root / "missing.eml"), 2);
  EXPECT_EQ(RunVarnox("check --root " + root.path() + " " + root / "spam.eml " + root / "ham.eml"),
            0);
  EXPECT_EQ(
      RunVarnox("check --root " + root.path() + " " + root / "ham.eml " + root / "missing.eml"), 2);
}

}  // namespace
}  // namespace varnox
