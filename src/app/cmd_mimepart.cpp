#include <memory>
#include <string>

#include "app/diag_commands.h"
#include "app/stdin_text.h"
#include "mailstore/extract.h"
#include "platform/maildir.h"

namespace varnox {

void AddMimePartCommand(CLI::App& app, CommandResult& result) {
  auto header = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "mimepart", "Print the MIME part that follows HEADER in the MIME text on standard input");
  cmd->add_option("HEADER", *header,
                  "The header line sought in the lower-cased text, e.g. "
                  "\"content-type: text/plain\"")
      ->required();
  cmd->callback([&result, header] {
    std::string text;
    if (!ReadStdinText(text)) {
      result.status = 2;
      return;
    }
    // Files hold bare LF; the part search needs the store's CR LF.
    std::string part;
    if (!FindMimePart(CanonicalLineEnds(text), *header, part)) {
      result.status = 1;
      return;
    }
    result.status = WriteStdout(part.data(), part.size()) ? 0 : 2;
  });
}

}  // namespace varnox
