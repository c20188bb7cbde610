#include "support/run_command.h"

#include <sys/wait.h>

#include <cstdio>

namespace varnox::testsupport {

CommandOutput RunShell(const std::string& commandLine) {
  CommandOutput r;
  FILE* p = popen(commandLine.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace varnox::testsupport
