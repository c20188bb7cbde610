#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/data_commands.h"
#include "app/demo_root.h"
#include "app/program.h"
#include "platform/clock.h"

namespace varnox {
namespace {

// A new folder varnox-demo-XXXXXX under $TMPDIR (else /tmp); empty on failure.
std::string NewDemoFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string path =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/varnox-demo-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) {
    std::fprintf(stderr, "varnox: cannot make a demo root in %s: %s\n",
                 std::filesystem::path(path).parent_path().c_str(), std::strerror(errno));
    return {};
  }
  return path;
}

int RunDemo(ProgramOptions options) {
  std::string& root = options.mail.storage.root;
  if (root.empty()) {
    root = NewDemoFolder();
    if (root.empty()) return 1;
    std::fprintf(stderr, "varnox: demo root %s\n", root.c_str());
  }
  std::string error;
  if (!MakeDemoRoot(root, DefaultClock(), error)) {
    std::fprintf(stderr, "varnox: cannot make the demo root: %s\n", error.c_str());
    return 1;
  }
  return RunProgram(options);
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<ProgramOptions>();
  CLI::App* cmd = app.add_subcommand(
      "demo", "Run the program on a demo root of sample mail, text messages and rules");
  cmd->add_option("--root", o->mail.storage.root,
                  "The demo root, made or completed (default: a new temporary folder)");
  AddWindowOptions(cmd, *o);
  cmd->callback([o, &result] { result.status = RunDemo(*o); });
}

}  // namespace varnox
