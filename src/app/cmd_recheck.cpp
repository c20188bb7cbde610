#include <cstdio>
#include <memory>
#include <vector>

#include "app/data_commands.h"
#include "app/main_window.h"
#include "app/running_program.h"
#include "app/storage_setup.h"
#include "storage/recheck.h"

namespace varnox {
namespace {

// The user's "Update", sent to the program that runs on the root; a dialog
// open there holds it off for up to 10 s.
int RecheckInProgram(const std::string& address) {
  std::string error;
  if (SendMainCommand(address, kCmdUpdate, 10000, error) != SendResult::kDone) {
    std::fprintf(stderr, "varnox: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "The running program re-checks every logged message; its window shows the progress.\n");
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Every logged message of every log checked again under the rules in force,
// as after a change of the rules: changed verdicts are written back, and the
// scan files the messages that became spam at its next start.
int RunRecheck(const StorageOptions& o) {
  const std::string root = ResolveDeviceRoot(o.root);
  if (!PrepareDeviceRoot(root)) return 1;
  // A running program re-checks itself, so that its window follows; the
  // scan of `varnox scan` writes the same logs and must not run meanwhile.
  SingleInstanceLock instance(root);
  if (!instance.held() && instance.error().empty()) {
    const std::string address = ReadProgramAddress(root);
    if (!address.empty()) return RecheckInProgram(address);
  }
  if (const int busy = LockDeviceRoot(
          instance, "varnox scan runs on this root; stop it, re-check, then start it again"))
    return busy;
  RemoveProgramAddress(root);  // left by a program that is gone
  auto storage = OpenStorage(o);
  if (!storage) return 1;
  std::vector<RecheckCount> counts;
  if (!RecheckLogs(storage->locations, storage->messages, storage->smsLog, storage->rules,
                   GlobalRuleTable(), &counts))
    return 1;
  int status = 0;
  for (const RecheckCount& c : counts) {
    if (!c.error.empty()) {
      std::fprintf(stderr, "varnox: %s could not be checked again: %s\n", c.path.c_str(),
                   c.error.c_str());
      status = 1;
      continue;
    }
    std::printf("%s: %d checked, %d changed\n", OneLine(LogName(c.path)).c_str(), c.checked,
                c.changed);
    if (c.failed > 0) {
      std::fprintf(stderr, "varnox: %d changed verdicts could not be written to %s\n", c.failed,
                   c.path.c_str());
      status = 1;
    }
  }
  return std::fflush(stdout) == 0 ? status : 1;
}

}  // namespace

void AddRecheckCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<StorageOptions>();
  CLI::App* cmd = app.add_subcommand(
      "recheck", "Check every logged message again against the rules and write changed verdicts");
  AddStorageOptions(cmd, *o);
  cmd->callback([o, &result] { result.status = RunRecheck(*o); });
}

}  // namespace varnox
