#include "app/running_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <httplib.h>

extern char** environ;

namespace varnox {
namespace {

std::string AddressPath(const std::string& root) {
  return root + "/.ClassName";
}

// "http://HOST:PORT/?token=TOKEN" into its parts.
bool SplitAddress(const std::string& address, std::string& host, int& port, std::string& token) {
  const std::string scheme = "http://";
  if (address.rfind(scheme, 0) != 0) return false;
  const auto slash = address.find('/', scheme.size());
  const auto colon = address.rfind(':', slash);
  if (slash == std::string::npos || colon == std::string::npos || colon < scheme.size())
    return false;
  host = address.substr(scheme.size(), colon - scheme.size());
  try {
    port = std::stoi(address.substr(colon + 1, slash - colon - 1));
  } catch (const std::exception&) {
    return false;
  }
  const auto t = address.find("token=", slash);
  if (t == std::string::npos) return false;
  token = address.substr(t + 6);
  return !host.empty() && port > 0 && !token.empty();
}

}  // namespace

bool WriteProgramAddress(const std::string& root, const std::string& address) {
  const std::string path = AddressPath(root);
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string text = address + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::fchmod(fd, 0600);
  if (::close(fd) != 0 || !written) {
    ::unlink(temp.c_str());
    return false;
  }
  return ::rename(temp.c_str(), path.c_str()) == 0;
}

void RemoveProgramAddress(const std::string& root) {
  ::unlink(AddressPath(root).c_str());
}

std::string ReadProgramAddress(const std::string& root) {
  std::ifstream in(AddressPath(root));
  std::string line;
  std::getline(in, line);
  return line;
}

void OpenInBrowser(const std::string& address) {
  // Not waited for: a browser started by xdg-open may run for long.
  pid_t pid = 0;
  const char* argv[] = {"xdg-open", address.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
    std::fprintf(stderr, "varnox: cannot start xdg-open; open %s in a browser\n", address.c_str());
  posix_spawn_file_actions_destroy(&actions);
  // Reaped when it ends, so no zombie stays.
  if (pid > 0) std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

SendResult SendMainCommand(const std::string& address, int id, int busyForMs, std::string& error) {
  std::string host, token;
  int port = 0;
  if (!SplitAddress(address, host, port, token)) {
    error = "the address of the running program cannot be read";
    return SendResult::kUnreachable;
  }
  httplib::Client client(host, port);
  client.set_connection_timeout(5);
  client.set_read_timeout(30);
  const httplib::Headers headers = {{"Authorization", "Bearer " + token}};
  const std::string body = "{\"dialog\": \"main\", \"id\": " + std::to_string(id) + "}";
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyForMs);
  for (;;) {
    auto res = client.Post("/api/command", headers, body, "application/json");
    if (!res) {
      error = "the running program at " + host + ":" + std::to_string(port) + " does not answer";
      return SendResult::kUnreachable;
    }
    if (res->status == 200) return SendResult::kDone;
    if (res->status != 409) {
      error = "the running program refused the command (" + std::to_string(res->status) + ")";
      return SendResult::kRefused;
    }
    if (std::chrono::steady_clock::now() >= until) {
      error = "a dialog is open in the running program; close it and try again";
      return SendResult::kBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

}  // namespace varnox
