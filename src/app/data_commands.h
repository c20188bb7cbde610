// Subcommands on the stored data and the mail folder: the rules, the message
// logs, checking messages and the store scan.
#pragma once

#include <CLI/CLI.hpp>

#include "app/diag_commands.h"

namespace varnox {

void AddRulesCommand(CLI::App& app, CommandResult& result);
void AddLogCommand(CLI::App& app, CommandResult& result);
void AddCheckCommand(CLI::App& app, CommandResult& result);
void AddScanCommand(CLI::App& app, CommandResult& result);
void AddSendCommand(CLI::App& app, CommandResult& result);
void AddRecheckCommand(CLI::App& app, CommandResult& result);
// `varnox demo`: a demo root, then the whole program on it.
void AddDemoCommand(CLI::App& app, CommandResult& result);

}  // namespace varnox
