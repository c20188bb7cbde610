#include <CLI/CLI.hpp>

#include "app/data_commands.h"
#include "app/diag_commands.h"
#include "app/identity.h"
#include "app/program.h"
#include "platform/trace.h"

int main(int argc, char** argv) {
  CLI::App app{"Varnox: a rule-based spam filter for your own mail and text messages"};
  // Without a command, the whole program runs: the window and the workers.
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", std::string("varnox ") + varnox::kProductVersion,
                       "Print the version and exit");
  varnox::ProgramOptions program;
  varnox::AddMailOptions(&app, program.mail);
  varnox::AddWindowOptions(&app, program);
  bool trace = false;
  app.add_flag("--trace", trace, "Copy the debug trace to standard error");

  varnox::CommandResult result;
  varnox::AddTokensCommand(app, result);
  varnox::AddHtml2TxtCommand(app, result);
  varnox::AddFingerprintCommand(app, result);
  varnox::AddSimilarCommand(app, result);
  varnox::AddRulesCommand(app, result);
  varnox::AddLogCommand(app, result);
  varnox::AddCheckCommand(app, result);
  varnox::AddScanCommand(app, result);
  varnox::AddSendCommand(app, result);
  varnox::AddRecheckCommand(app, result);
  varnox::AddMimePartCommand(app, result);
  varnox::AddDemoCommand(app, result);

  app.parse_complete_callback([&] {
    if (trace) varnox::SetTraceEnabled(true);
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (app.get_subcommands().empty()) return varnox::RunProgram(program);
  return result.status;
}
