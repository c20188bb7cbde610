#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/diag_commands.h"
#include "app/stdin_text.h"
#include "html2txt/html_converter.h"

namespace varnox {

void AddHtml2TxtCommand(CLI::App& app, CommandResult& result) {
  CLI::App* cmd =
      app.add_subcommand("html2txt", "Print the plain text the HTML on standard input gives");
  cmd->callback([&result] {
    std::string html;
    if (!ReadStdinText(html)) {
      result.status = 2;
      return;
    }
    std::vector<char> out(HtmlOutputBound(html.size()));
    if (!CreateHtmlConverter() || HtmlToText(html.c_str(), out.data()) != 0) {
      std::fputs("varnox: cannot create the HTML converter\n", stderr);
      result.status = 2;
      return;
    }
    result.status = WriteStdout(out.data(), std::strlen(out.data())) ? 0 : 2;
  });
}

}  // namespace varnox
