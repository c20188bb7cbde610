// Running commands as a user does, for the tests of the varnox program.
#pragma once

#include <string>

namespace varnox::testsupport {

struct CommandOutput {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;  // standard output
};

// Runs a shell command line, capturing its standard output.
CommandOutput RunShell(const std::string& commandLine);

#ifdef VARNOX_BINARY
// Runs the varnox under test with args (shell words), standard input empty and
// output discarded; returns its exit status.
inline int RunVarnox(const std::string& args) {
  return RunShell(std::string(VARNOX_BINARY) + " " + args + " </dev/null >/dev/null 2>&1").status;
}
#endif

}  // namespace varnox::testsupport
