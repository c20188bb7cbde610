// The diagnostic subcommands as a user runs them: a real process, real pipes.
#include <gtest/gtest.h>

#include <string>

#include "support/run_command.h"
#include "support/temp_root.h"

namespace {

using Result = varnox::testsupport::CommandOutput;
using varnox::testsupport::RunShell;

// Runs varnox with args, feeding input on standard input.
Result Varnox(const std::string& args, const std::string& input) {
  const varnox::testsupport::TempRoot folder;
  EXPECT_TRUE(varnox::testsupport::WriteFile(folder / "in", input));
  return RunShell(std::string(VARNOX_BINARY) + " " + args + " < " + (folder / "in"));
}

// Each command's output, exactly.
TEST(DiagCommands, PrintTheirResult) {
  const struct {
    const char* args;
    std::string input, out;
  } cases[] = {
      {"tokens", "Win a FREE prize, win now!", "a free now prize win \n"},
      {"tokens", std::string("stop\0ignored", 12), "stop \n"},
      {"tokens", "", "\n"},
      {"fingerprint", "abc", "a448017aaf21d8525fc10ae87aa6729d\n"},  // MD4 in hex
      {"html2txt", "<p>Hello &amp; <b>bye</b>", "\n\nHello & bye"},
  };
  for (const auto& c : cases) {
    const Result r = Varnox(c.args, c.input);
    EXPECT_EQ(r.status, 0) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
}

TEST(DiagCommands, SimilarReportsHitsSimilaritiesAndVerdict) {
  Result r = Varnox("similar --rule-text 'cheap pills online now' --certainty 75",
                    "Buy cheap pills online");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("hits: 3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("similarity 1: 75.00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("similarity 2: 75.00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("match: yes\n"), std::string::npos) << r.out;
  r = Varnox("similar --rule-text 'cheap pills online now'", "Buy cheap pills online");
  EXPECT_NE(r.out.find("match: no\n"), std::string::npos) << r.out;  // 90 by default
}

TEST(DiagCommands, BadArgumentsAreRefused) {
  EXPECT_NE(Varnox("similar", "x").status, 0);
  EXPECT_NE(Varnox("similar --rule-text a --certainty abc", "x").status, 0);
  EXPECT_NE(Varnox("no-such-command", "").status, 0);
}

TEST(DiagCommands, AReadFailureExitsTwoWithAReason) {
  // Reading a directory fails with EISDIR.
  for (const char* cmd : {"tokens", "fingerprint", "html2txt", "similar --rule-text x"}) {
    Result r = RunShell(std::string(VARNOX_BINARY) + " " + cmd + " < / 2>&1");
    EXPECT_EQ(r.status, 2) << cmd;
    EXPECT_NE(r.out.find("cannot read standard input"), std::string::npos) << cmd << r.out;
  }
}

}  // namespace
