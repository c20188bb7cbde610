// The whole program started in the background as a user starts it, with its
// address line read from its standard output.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace varnox::testsupport {

class ProgramProcess {
 public:
  // Starts binary with args; the pauses of the program are scaled down.
  ProgramProcess(const std::string& binary, const std::vector<std::string>& args);
  ~ProgramProcess();  // kills it when still running
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  // The next line of its standard output, waiting up to a minute; empty at
  // the end of the output.
  std::string ReadLine();
  // Waits for the exit; its status, -1 when it did not exit normally.
  int Wait();
  // Sends signal, then waits.
  int Stop(int signal);
  pid_t Pid() const { return pid_; }
  // What it wrote on standard error.
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::string errorsPath_;
  int status_ = -2;
};

// "http://HOST:PORT/?token=TOKEN" from "Varnox: http://..."; false otherwise.
struct ProgramAddress {
  std::string host;
  int port = 0;
  std::string token;
};
bool ParseAddressLine(const std::string& line, ProgramAddress& address);

}  // namespace varnox::testsupport
