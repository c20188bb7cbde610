// Diagnostic subcommands: they show what the analysis makes of a text.
// Each reads standard input, writes its result to standard output and
// diagnostics to standard error; a read failure exits 2.
#pragma once

#include <CLI/CLI.hpp>

namespace varnox {

// Exit status a subcommand's callback leaves for main.
struct CommandResult {
  int status = 0;
};

void AddTokensCommand(CLI::App& app, CommandResult& result);
void AddHtml2TxtCommand(CLI::App& app, CommandResult& result);
void AddFingerprintCommand(CLI::App& app, CommandResult& result);
void AddSimilarCommand(CLI::App& app, CommandResult& result);
void AddMimePartCommand(CLI::App& app, CommandResult& result);

}  // namespace varnox
