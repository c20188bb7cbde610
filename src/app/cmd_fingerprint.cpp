#include <string>

#include "analysis/fingerprint.h"
#include "app/diag_commands.h"
#include "app/stdin_text.h"

namespace varnox {

void AddFingerprintCommand(CLI::App& app, CommandResult& result) {
  CLI::App* cmd = app.add_subcommand(
      "fingerprint", "Print the fingerprint (MD4, 32 hex digits) of standard input");
  cmd->callback([&result] {
    std::string text;
    if (!ReadStdinText(text)) {
      result.status = 2;
      return;
    }
    const std::string line = Fingerprint(text) + "\n";
    result.status = WriteStdout(line.data(), line.size()) ? 0 : 2;
  });
}

}  // namespace varnox
