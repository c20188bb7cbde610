#include <string>

#include "analysis/tokenizer.h"
#include "app/diag_commands.h"
#include "app/stdin_text.h"

namespace varnox {

void AddTokensCommand(CLI::App& app, CommandResult& result) {
  CLI::App* cmd = app.add_subcommand(
      "tokens", "Print the token string of the text on standard input (stemmed, sorted words)");
  cmd->callback([&result] {
    std::string text;
    if (!ReadStdinText(text)) {
      result.status = 2;
      return;
    }
    const std::string tokens = BuildTokenString(text) + "\n";
    result.status = WriteStdout(tokens.data(), tokens.size()) ? 0 : 2;
  });
}

}  // namespace varnox
