#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/data_commands.h"
#include "app/mail_options.h"
#include "app/stdin_text.h"
#include "html2txt/html_converter.h"
#include "mailstore/extract.h"
#include "mailstore/process.h"
#include "platform/cores.h"
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

// What one argument gives: its line, or why it could not be read.
struct Judged {
  std::string line;   // for standard output
  std::string error;  // for standard error, when the file could not be read
  bool spam = false;
};

Judged Judge(RuleTable& table, const std::string& file, const std::string* stdinBytes) {
  Judged j;
  std::string bytes, error;
  bool ok = true;
  if (stdinBytes != nullptr) {
    bytes = *stdinBytes;
  } else {
    const FilePtr f(std::fopen(file.c_str(), "rb"));
    if (f == nullptr) error = std::strerror(errno);
    ok = f != nullptr && ReadAll(f.get(), bytes, error);
  }
  if (!ok) {
    j.error = "varnox: cannot read " + file + ": " + error + "\n";
    return j;
  }
  const std::string verdict = Verdict(table, bytes);
  j.spam = verdict != "normal";
  j.line = file + ": " + verdict + "\n";
  return j;
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
  const std::size_t n = files.size();

  // Standard input is read here, once: the first "-" gets it, any later one
  // the empty rest, as when the files were read one after the other.
  std::vector<std::optional<std::string>> stdinBytes(n);
  std::vector<std::string> stdinError(n);
  bool stdinRead = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (files[i] != "-") continue;
    std::string bytes, error;
    if (!stdinRead && !ReadAll(stdin, bytes, error)) {
      stdinError[i] = "varnox: cannot read -: " + error + "\n";
    } else {
      stdinBytes[i] = std::move(bytes);
    }
    stdinRead = true;
  }

  // The files are judged on every core this process may use (this thread is
  // one of them). Whoever judges the next file in the order of the
  // arguments prints its line, and the ready lines after it. At most kAhead
  // judged files wait to be printed, so memory does not grow with the number
  // of arguments.
  constexpr std::size_t kAhead = 64;
  std::mutex mutex;  // guards results, next, printed, status and spam, and the printing
  std::condition_variable room;
  std::vector<std::optional<Judged>> results(n);
  std::size_t next = 0, printed = 0;
  int status = 0;
  bool spam = false;
  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      room.wait(lock, [&] { return next >= n || next < printed + kAhead; });
      if (next >= n) return;
      const std::size_t i = next++;
      lock.unlock();
      Judged j = !stdinError[i].empty()
                     ? Judged{{}, stdinError[i], false}
                     : Judge(table, files[i], stdinBytes[i] ? &*stdinBytes[i] : nullptr);
      lock.lock();
      results[i] = std::move(j);
      const std::size_t before = printed;
      for (; printed < n && results[printed]; ++printed) {
        const Judged& ready = *results[printed];
        if (!ready.error.empty()) {
          std::fputs(ready.error.c_str(), stderr);
          status = 2;
        } else {
          spam = ready.spam;
          std::fputs(ready.line.c_str(), stdout);
        }
        results[printed].reset();
      }
      if (printed != before) room.notify_all();
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < std::min<std::size_t>(UsableCores(), n); ++t)
      helpers.emplace_back(work);
    work();
  }
  std::fflush(stdout);
  if (n == 1 && status == 0) return spam ? 1 : 0;
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
