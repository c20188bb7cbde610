// The whole program: start-up, the window served over HTTP, the workers,
// until "Exit", Control+Q or SIGTERM.
#pragma once

#include <string>

#include "app/mail_options.h"

namespace varnox {

struct ProgramOptions {
  MailOptions mail;
  std::string spool;                      // default <root>/spool
  std::string listen = "127.0.0.1:8740";  // HOST:PORT; port 0 takes a free one
  bool open = false;                      // open the address in the browser
};

// --listen and --open on cmd (the mail and storage options are added apart).
void AddWindowOptions(CLI::App* cmd, ProgramOptions& options);

// Runs the program; returns its exit status: 0 after Exit or SIGTERM, 255
// when another copy runs on the root (its address said, and opened with
// --open), 1 when the root, its data or the listening address cannot be used.
int RunProgram(const ProgramOptions& options);

}  // namespace varnox
