// Running commands as a user does, for the tests of the varnox program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>

namespace varnox::testsupport {

struct CommandOutput {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;  // standard output
};

// Runs a shell command line, capturing its standard output.
CommandOutput RunShell(const std::string& commandLine);

// Starts `binary scan --root root [--once]` in the background, output discarded.
pid_t StartScan(const std::string& binary, const std::string& root, bool once = false);

// Stops a started scan with signal; its exit status, -1 when it did not exit.
int StopScan(pid_t scan, int signal = SIGTERM);

// Polls done every poll until it holds, for up to a minute (sanitizer builds are slow).
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds poll = std::chrono::milliseconds(50));

#ifdef VARNOX_BINARY
// Runs the varnox under test with args (shell words), standard input empty and
// output discarded; returns its exit status.
inline int RunVarnox(const std::string& args) {
  return RunShell(std::string(VARNOX_BINARY) + " " + args + " </dev/null >/dev/null 2>&1").status;
}
#endif

}  // namespace varnox::testsupport
