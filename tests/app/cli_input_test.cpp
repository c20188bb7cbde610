// The varnox program as a user runs it on bad input: rules the editor would
// refuse, endless and oversized input, broken From: fields, and roots,
// rules and logs that cannot be used.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/stdin_text.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using testsupport::CommandOutput;
using testsupport::Garble;
using testsupport::Query;
using testsupport::RunShell;
using testsupport::TempRoot;
using testsupport::WriteFile;

// A shell line in which {v} is the varnox under test; standard error joins
// the output. Memory is capped so that a reader that never stops fails
// instead of filling the machine (not under sanitizers, which reserve far
// more address space than any such cap).
CommandOutput Shell(std::string line, const std::string& root) {
  for (auto at = line.find("{v}"); at != std::string::npos; at = line.find("{v}"))
    line.replace(at, 3, VARNOX_BINARY);
#if !defined(VARNOX_SANITIZED) && !defined(__SANITIZE_ADDRESS__)
  line = "ulimit -v 2000000; " + line;
#endif
  return RunShell("export VARNOX_ROOT='" + root + "'; " + line + " 2>&1");
}

TEST(CommandLine, RulesMatchingAllOrNothingAreRefusedAndFromWithBadBytesMatches) {
  TempRoot root;
  const struct {
    const char* args;
    int status;
    const char* says;
  } cases[] = {
      {"--sender '' --message ''", 1, "both are empty"},
      {"--by-sender --sender '' --message 'buy now'", 1, "needs a sender"},
      {"--sender x --message y --certainty nan", 1, "whole number from 1 to 100, not 'nan'"},
      {"--sender x --message y --certainty 1000", 1, "whole number from 1 to 100"},
      {"--sender x --message y --certainty 0", 1, "whole number from 1 to 100"},
      {"--sender x --message y --certainty 90.5", 1, "whole number from 1 to 100"},
      {"--sender x --message y --certainty 100", 0, ""},
      {"--sender '' --message 'buy now' --certainty 1", 0, ""},
      {"--by-sender --sender example.com --message ''", 0, ""},
  };
  for (const auto& c : cases) {
    const CommandOutput r = Shell(std::string("{v} rules add ") + c.args, root.path());
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  EXPECT_EQ(Shell("{v} rules", root.path()).out,
            "1\tx\t0\t0\t100\ty\n"
            "2\t\t0\t0\t1\tbuy now\n"
            "3\texample.com\t1\t0\t90\t\n");
  // An invalid byte in From: still meets the sender rule (the header
  // parser's table pins the decoded address).
  const CommandOutput r =
      Shell("printf 'From: <x\\377@example.com>\\nSubject: t\\n\\nhi\\n' | {v} check", root.path());
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("spam (rule 3, sender rule)"), std::string::npos) << r.out;
}

TEST(CommandLine, InputStopsAtItsFirstNulAndHasALimit) {
  TempRoot root;
  const std::string big = root / "big";
  ASSERT_TRUE(WriteFile(big, ""));
  fs::resize_file(big, kMaxInputBytes + 1);  // sparse: cheap however large
  const std::string tooLarge = "more than " + std::to_string(kMaxInputBytes) + " bytes";
  const struct {
    std::string line;
    int status;
    std::string says;
  } cases[] = {
      {"{v} check /dev/zero", 0, "/dev/zero: normal"},
      {"{v} check </dev/zero", 0, "-: normal"},
      {"{v} tokens </dev/zero", 0, "\n"},
      {"{v} check " + big, 2, "cannot read " + big + ": " + tooLarge},
      {"{v} check <" + big, 2, tooLarge},
      {"{v} similar --rule-text x <" + big, 2, "standard input: " + tooLarge},
      {"head -c " + std::to_string(kMaxInputBytes + 1) + " /dev/zero | tr '\\0' a | {v} tokens", 2,
       tooLarge},
  };
  for (const auto& c : cases) {
    const CommandOutput r = Shell(c.line, root.path());
    EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.out.substr(0, 300);
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.line << "\n" << r.out.substr(0, 300);
  }
}

// A file where a folder should be.
void ReplaceByFile(const std::string& folder) {
  fs::remove_all(folder);
  WriteFile(folder, "");
}

// Many files are judged on several threads: the lines come in the order of
// the arguments, as one run per file gives them, whatever each file is.
TEST(CommandLine, ManyFilesGiveTheLinesOfOneRunPerFileInTheirOrder) {
  TempRoot root;
  ASSERT_EQ(
      Shell("{v} rules add --by-sender --sender spam.example --message ''", root.path()).status, 0);
  ASSERT_EQ(
      Shell("{v} rules add --sender '' --message 'cheap pills offer today'", root.path()).status,
      0);
  const char* const kBodies[] = {
      "From: a@spam.example\nSubject: s\n\nhello\n",
      "From: b@friends.example\nSubject: lunch\n\nsee you at noon\n",
      "From: c@other.example\nContent-Type: text/html\n\n<p>cheap <b>pills</b> offer today</p>\n",
      "From: d@other.example\nSubject: =?utf-8?q?caf=C3=A9?=\n\ncheap pills offer today\n",
      "no header at all",
  };
  // With "-" among the files and without (then reading starts before the
  // rules are loaded).
  for (const bool withStdin : {true, false}) {
    std::string args, separate;
    for (int i = 0; i < 120; ++i) {
      const std::string file = root / ("m" + std::to_string(i));
      // One missing file; the rest cycle through the kinds, each text made distinct.
      ASSERT_TRUE(i == 60 ||
                  WriteFile(file, kBodies[i % 5] + std::string(i % 7, '\n') + std::to_string(i)));
      args += " " + file;
      separate += "{v} check " + file + " 2>/dev/null; ";
      if (i == 80 && withStdin) {
        args += " -";
        separate += "{v} check - <" + std::string(root / "m2") + " 2>/dev/null; ";
      }
    }
    // Standard error (the missing file) is left out: only the lines count.
    const CommandOutput one = Shell(separate, root.path());
    const CommandOutput all =
        Shell("({v} check" + args + " <" + std::string(root / "m2") + " 2>/dev/null)", root.path());
    EXPECT_EQ(all.status, 2);  // the missing file
    EXPECT_EQ(all.out, one.out);
    EXPECT_NE(all.out.find("m2: spam (rule 2, message rule"), std::string::npos) << all.out;
    EXPECT_EQ(all.out.find("\n-: spam (rule 2") != std::string::npos, withStdin) << all.out;
    EXPECT_EQ(all.out.find("m60:"), std::string::npos) << all.out;
  }
}

TEST(CommandLine, WhatCannotBeUsedIsNamedAndFails) {
  const std::string spam = "From: x@spam.example\nSubject: hi\n\nsecret words of the spam\n";
  const std::string normal = "From: ann@friends.example\nSubject: tea\n\nsecret words of Ann\n";
  const struct {
    const char* name;
    std::function<void(const std::string& root)> damage;
    std::string says;  // after the root's path when it begins with '/' or ' '
    int scan, check, rules, recheck;
  } cases[] = {
      {"sound", [](const std::string&) {}, "Home: 2 examined, 2 logged, 1 moved", 0, 1, 0, 0},
      {"root is a file", [](const std::string& root) { ReplaceByFile(root); }, " is not a folder",
       1, 2, 1, 1},
      {"no data folder", [](const std::string& root) { ReplaceByFile(root + "/Varnox"); },
       "/Varnox/dba", 1, 2, 1, 1},
      {"rules garbage", [](const std::string& root) { Garble(root + "/Varnox/dba/Rules_0.db"); },
       "/Varnox/dba/Rules_0.db", 1, 2, 1, 1},
      // The lock of the one running copy cannot be taken: no other copy runs.
      {"lock unusable", [](const std::string& root) { fs::create_directory(root + "/.MainEvent"); },
       "/.MainEvent", 1, 1, 0, 1},
      // The re-check goes on with the other logs, and names this one in its status.
      {"log garbage", [](const std::string& root) { Garble(root + "/Varnox/dba/Home.db"); },
       "/Varnox/dba/Home.db", 1, 1, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempRoot parent;
    const std::string root = parent / "root";
    const std::string inbox = parent / "Mail/Home";
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox + "/" + sub);
    ASSERT_TRUE(WriteFile(inbox + "/new/1.a.host", spam));
    ASSERT_TRUE(WriteFile(inbox + "/new/2.b.host", normal));
    ASSERT_TRUE(WriteFile(parent / "spam", spam));
    ASSERT_EQ(Shell("{v} rules add --by-sender --sender spam.example --message ''", root).status,
              0);
    c.damage(root);

    const CommandOutput scan = Shell("{v} scan --once --mail " + parent.path() + "/Mail", root);
    EXPECT_EQ(scan.status, c.scan) << scan.out;
    const std::string says = c.says[0] == '/' || c.says[0] == ' ' ? root + c.says : c.says;
    EXPECT_NE(scan.out.find(says), std::string::npos) << scan.out;
    // Message text never reaches the console.
    EXPECT_EQ(scan.out.find("secret words"), std::string::npos) << scan.out;
    const CommandOutput check = Shell("{v} check <" + parent.path() + "/spam", root);
    EXPECT_EQ(check.status, c.check) << check.out;
    if (c.says.find("Rules_0") != std::string::npos) {
      EXPECT_NE(check.out.find(says), std::string::npos) << check.out;
    }
    // Files are read while the rules load: without them no verdict is said.
    const std::string file = parent / "spam";
    const CommandOutput two = Shell("{v} check " + file + " " + file, root);
    EXPECT_EQ(two.status, c.check == 2 ? 2 : 0) << two.out;
    EXPECT_EQ(two.out.find(": spam (") != std::string::npos, c.check == 1) << two.out;
    EXPECT_EQ(Shell("{v} rules", root).status, c.rules);
    // Without rules read, a re-check would reset every logged spam.
    EXPECT_EQ(Shell("{v} recheck", root).status, c.recheck);
    if (c.scan == 1 && c.rules == 1) {
      // Nothing is classified without rules: every message waits unlogged.
      EXPECT_TRUE(fs::exists(inbox + "/new/1.a.host"));
      const std::string log = root + "/Varnox/dba/Home.db";
      EXPECT_TRUE(!fs::exists(log) || Query(log, "SELECT Id FROM Msg;").empty());
    }
    if (c.scan == 0) {
      // A From: without a display name shows its address as the sender.
      const CommandOutput log = Shell("{v} log --spam --normal", root);
      EXPECT_NE(log.out.find("\tann@friends.example\tnormal\ttea\n"), std::string::npos) << log.out;
      EXPECT_NE(log.out.find("\tx@spam.example\tspam\thi\n"), std::string::npos) << log.out;
      // A rule added later: the re-check turns Ann's row to spam and the
      // next scan files it; while a scan runs, the re-check refuses (255).
      ASSERT_EQ(Shell("{v} rules add --by-sender --sender friends --message ''", root).status, 0);
      const CommandOutput recheck = Shell("{v} recheck", root);
      EXPECT_NE(recheck.out.find("Home: 2 checked, 1 changed\n"), std::string::npos) << recheck.out;
      EXPECT_EQ(Shell("{v} scan --once --mail " + parent.path() + "/Mail", root).status, 0);
      EXPECT_TRUE(fs::exists(inbox + "/.Spam/new/2.b.host"));
      const pid_t running = testsupport::StartScan(VARNOX_BINARY, root);
      // The spool is made once the scan holds the root.
      ASSERT_TRUE(testsupport::WaitFor([&] { return fs::exists(root + "/spool/incoming"); }));
      EXPECT_EQ(Shell("{v} recheck", root).status, 255);
      EXPECT_EQ(testsupport::StopScan(running), 0);
    }
  }
}

TEST(CommandLine, ARootThatCannotBeWrittenIsNamed) {
  TempRoot parent;
  const std::string root = parent / "root";
  fs::create_directories(root);
  // Run from a copy beside the root: the user without rights may not reach
  // the build folder.
  const std::string program = parent / "varnox";
  fs::copy_file(VARNOX_BINARY, program);
  const std::string failures = testsupport::WithoutWriteAccess(parent.path(), root, [&] {
    std::string failed;
    for (const auto& [command, status] : {std::pair{"scan --once", 1},
                                          {"scan", 1},
                                          {"rules", 1},
                                          {"log", 1},
                                          {"check /dev/null", 2}}) {
      const CommandOutput r = Shell(program + " " + command, root);
      if (r.status != status || r.out.find(root + " cannot be written") == std::string::npos)
        failed += std::string(command) + ": " + std::to_string(r.status) + " " + r.out + "\n";
    }
    return failed;
  });
  EXPECT_EQ(failures, "");
}

}  // namespace
}  // namespace varnox
