#include <cstdio>
#include <memory>
#include <vector>

#include "app/data_commands.h"
#include "app/storage_setup.h"
#include "storage/recheck.h"

namespace varnox {
namespace {

// Every logged message of every log checked again under the rules in force,
// as after a change of the rules: changed verdicts are written back, and the
// scan files the messages that became spam at its next start.
int RunRecheck(const StorageOptions& o) {
  const std::string root = ResolveDeviceRoot(o.root);
  if (!PrepareDeviceRoot(root)) return 1;
  // The scan writes the same logs; it must not run meanwhile.
  SingleInstanceLock instance(root);
  if (const int busy = LockDeviceRoot(
          instance, "varnox scan runs on this root; stop it, re-check, then start it again"))
    return busy;
  auto storage = OpenStorage(o);
  if (!storage) return 1;
  std::vector<RecheckCount> counts;
  if (!RecheckLogs(storage->locations, storage->messages, storage->smsLog, storage->rules,
                   GlobalRuleTable(), &counts))
    return 1;
  int status = 0;
  for (const RecheckCount& c : counts) {
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
