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

// Each command's output, exactly; refused arguments fail with no output.
TEST(DiagCommands, PrintTheirResultOrRefuse) {
  const std::string similar =
      "hits: 3\nmessage tokens: 4\nrule tokens: 4\nsimilarity 1: 75.00\nsimilarity 2: 75.00\n";
  const struct {
    const char* args;
    std::string input, out;
    bool ok;
  } cases[] = {
      {"tokens", "Win a FREE prize, win now!", "a free now prize win \n", true},
      {"fingerprint", "abc", "a448017aaf21d8525fc10ae87aa6729d\n", true},  // MD4 in hex
      {"html2txt", "<p>Hello &amp; <b>bye</b>", "\n\nHello & bye", true},
      {"similar --rule-text 'cheap pills online now' --certainty 75", "Buy cheap pills online",
       similar + "certainty: 75.000\nmatch: yes\n", true},
      {"similar --rule-text 'cheap pills online now'", "Buy cheap pills online",
       similar + "certainty: 90.000\nmatch: no\n", true},  // 90 by default
      {"similar", "x", "", false},
      {"similar --rule-text a --certainty abc", "x", "", false},
      {"no-such-command", "", "", false},
  };
  for (const auto& c : cases) {
    const Result r = Varnox(c.args, c.input);
    EXPECT_EQ(r.status == 0, c.ok) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
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
