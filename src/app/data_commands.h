// Subcommands on the stored data: the rules and the message logs.
#pragma once

#include <CLI/CLI.hpp>

#include "app/diag_commands.h"

namespace varnox {

void AddRulesCommand(CLI::App& app, CommandResult& result);
void AddLogCommand(CLI::App& app, CommandResult& result);

}  // namespace varnox
