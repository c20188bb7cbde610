#include "support/program_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace varnox::testsupport {

ProgramProcess::ProgramProcess(const std::string& binary, const std::vector<std::string>& args) {
  char errors[] = "/tmp/varnox-program-errXXXXXX";
  const int errFd = mkstemp(errors);
  errorsPath_ = errors;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    setenv("VARNOX_PAUSE_SCALE", "0.01", 1);
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  close(errFd);
  out_ = pipeFds[0];
}

ProgramProcess::~ProgramProcess() {
  if (status_ == -2 && pid_ > 0) Stop(SIGKILL);
  if (out_ >= 0) close(out_);
  unlink(errorsPath_.c_str());
}

std::string ProgramProcess::ReadLine() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
    char buf[512];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return {};
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

int ProgramProcess::Wait() {
  if (status_ != -2) return status_;
  int st = 0;
  if (waitpid(pid_, &st, 0) != pid_) return status_ = -1;
  return status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int ProgramProcess::Stop(int signal) {
  if (status_ == -2) kill(pid_, signal);
  return Wait();
}

std::string ProgramProcess::Errors() const {
  std::ifstream in(errorsPath_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ParseAddressLine(const std::string& line, ProgramAddress& address) {
  static const std::regex form(R"(^Varnox: http://([0-9.]+):([0-9]+)/\?token=([0-9a-f]{32})$)");
  std::smatch m;
  if (!std::regex_match(line, m, form)) return false;
  address.host = m[1];
  address.port = std::stoi(m[2]);
  address.token = m[3];
  return true;
}

}  // namespace varnox::testsupport
