#include "support/run_command.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace varnox::testsupport {

CommandOutput RunShell(const std::string& commandLine) {
  CommandOutput r;
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(commandLine.c_str(), "r"), pclose);
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p.get())) > 0) r.out.append(buf, n);
  const int st = pclose(p.release());
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

pid_t StartScan(const std::string& binary, const std::string& root, bool once) {
  const pid_t child = fork();
  if (child == 0) {
    if (freopen("/dev/null", "w", stdout) == nullptr ||
        freopen("/dev/null", "w", stderr) == nullptr)
      _exit(126);
    execl(binary.c_str(), binary.c_str(), "scan", "--root", root.c_str(),
          once ? "--once" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

int StopScan(pid_t scan, int signal) {
  kill(scan, signal);
  int status = 0;
  if (waitpid(scan, &status, 0) != scan || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds poll) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

}  // namespace varnox::testsupport
