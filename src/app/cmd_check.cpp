#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/data_commands.h"
#include "app/mail_options.h"
#include "app/stdin_text.h"
#include "html2txt/html_converter.h"
#include "mailstore/extract.h"
#include "mailstore/process.h"
#include "platform/maildir.h"
#include "platform/unique_fd.h"

namespace varnox {

void AddMailOptions(CLI::App* cmd, MailOptions& options) {
  AddStorageOptions(cmd, options.storage);
  cmd->add_option("--mail", options.mail, "Mail folder of the stores (default: <root>/Mail)");
}

std::string MailFolder(const MailOptions& options, const Storage& storage) {
  return options.mail.empty() ? storage.locations.DeviceRoot() + "/Mail" : options.mail;
}

namespace {

struct CheckOptions {
  MailOptions mail;
  std::vector<std::string> files;
};

// The verdict line of one message, as the scan would decide it.
std::string Verdict(RuleTable& table, const std::string& bytes) {
  MessageRecord m;
  m.mimeText = CanonicalLineEnds(bytes);
  m.mimeText.resize(std::strlen(m.mimeText.c_str()));
  ReadHeaderFromText(m.mimeText, m);
  m.lowered = m.mimeText;
  LowerAscii(m.lowered);
  ExtractMessageText(m.lowered, m.mimeText, m.subject, m.tokens, m.text,
                     [](std::chrono::milliseconds) {});  // no scan to give way to
  RuleMatch match;
  if (!Classify(table, m.senderEmail, m.tokens, &match)) return "normal";
  return "spam (" + DescribeMatch(match) + ")";
}

int RunCheck(const CheckOptions& o) {
  // 2, not 1: to a mail filter 1 means spam.
  auto storage = OpenStorage(o.mail.storage);
  if (!storage) return 2;
  RuleTable& table = GlobalRuleTable();
  // Without the rules every message would pass as normal; the load said why.
  if (!storage->rules.LoadRules()) return 2;
  CreateHtmlConverter();
  std::vector<std::string> files = o.files;
  if (files.empty()) files.push_back("-");
  int status = 0;
  bool spam = false;
  for (const std::string& file : files) {
    std::string bytes, error;
    bool ok;
    if (file == "-") {
      ok = ReadAll(stdin, bytes, error);
    } else {
      const FilePtr f(std::fopen(file.c_str(), "rb"));
      if (f == nullptr) error = std::strerror(errno);
      ok = f != nullptr && ReadAll(f.get(), bytes, error);
    }
    if (!ok) {
      std::fprintf(stderr, "varnox: cannot read %s: %s\n", file.c_str(), error.c_str());
      status = 2;
      continue;
    }
    const std::string verdict = Verdict(table, bytes);
    spam = verdict != "normal";
    std::printf("%s: %s\n", file.c_str(), verdict.c_str());
  }
  std::fflush(stdout);
  if (files.size() == 1 && status == 0) return spam ? 1 : 0;
  return status;
}

}  // namespace

void AddCheckCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<CheckOptions>();
  CLI::App* cmd = app.add_subcommand(
      "check",
      "Check message files (or standard input) against the rules, as the scan would, without "
      "logging or moving them. One message: exit 1 for spam, 0 for normal, 2 for an error");
  AddMailOptions(cmd, o->mail);
  cmd->add_option("files", o->files, "Message files (default: standard input)");
  cmd->callback([o, &result] { result.status = RunCheck(*o); });
}

}  // namespace varnox
