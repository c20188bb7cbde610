#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
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

// One argument's message, read and extracted: all of its verdict but the
// rules' part, which waits until they are loaded.
struct Read {
  MessageRecord m;
  std::string error;  // why the file could not be read
};

Read ReadMessage(const std::string& file, const std::string* stdinBytes) {
  Read r;
  std::string bytes;
  if (stdinBytes != nullptr) {
    bytes = *stdinBytes;
  } else {
    const FilePtr f(std::fopen(file.c_str(), "rb"));
    std::string error = f == nullptr ? std::strerror(errno) : "";
    if (f == nullptr || !ReadAll(f.get(), bytes, error)) {
      r.error = "varnox: cannot read " + file + ": " + error + "\n";
      return r;
    }
  }
  MessageRecord& m = r.m;
  m.mimeText = std::move(bytes);  // cut at its first NUL already
  ExpandBareLineFeeds(m.mimeText);
  ReadHeaderFromText(m.mimeText, m);
  m.lowered = m.mimeText;
  LowerAscii(m.lowered);
  ExtractMessageText(m.lowered, m.mimeText, m.subject, m.tokens, m.text,
                     [](std::chrono::milliseconds) {});  // no scan to give way to
  return r;
}

// What one argument gives: its line, or why it could not be read.
struct Judged {
  std::string line;   // for standard output
  std::string error;  // for standard error, when the file could not be read
  bool spam = false;
};

// The verdict line of one message, as the scan would decide it.
Judged Judge(RuleTable& table, const std::string& file, const Read& read) {
  if (!read.error.empty()) return Judged{{}, read.error, false};
  RuleMatch match;
  if (!Classify(table, read.m.senderEmail, read.m.tokens, &match))
    return Judged{file + ": normal\n", {}, false};
  return Judged{file + ": spam (" + DescribeMatch(match) + ")\n", {}, true};
}

int RunCheck(const CheckOptions& o) {
  std::vector<std::string> files = o.files;
  if (files.empty()) files.push_back("-");
  const std::size_t n = files.size();
  const bool readsStdin = std::find(files.begin(), files.end(), "-") != files.end();
  CreateHtmlConverter();
  RuleTable& table = GlobalRuleTable();

  // The files are read and judged on every core this process may use, one
  // thread each. Whoever judges the next file in the order of the
  // arguments prints its line, and the ready lines after it. At most kAhead
  // files are read ahead of the last line printed, so memory does not grow
  // with the number of arguments. Reading and extracting start at once; the
  // rules' part waits until this thread has opened the storage and loaded
  // the rules, and the files read meanwhile wait in pending.
  constexpr std::size_t kAhead = 256;
  enum class Rules { kLoading, kReady, kFailed };
  // guards reads, pending, results, next, printed, status, spam and rules, and the printing
  std::mutex mutex;
  std::condition_variable room;
  std::vector<std::optional<Read>> reads(n);
  std::deque<std::size_t> pending;  // read, waiting for the rules
  std::vector<std::optional<Judged>> results(n);
  std::vector<std::optional<std::string>> stdinBytes(n);
  std::vector<std::string> stdinError(n);
  std::size_t next = 0, printed = 0;
  int status = 0;
  bool spam = false;
  Rules rules = Rules::kLoading;
  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (rules == Rules::kFailed) return;
      std::size_t i = 0;
      std::optional<Read> read;
      if (rules == Rules::kReady && !pending.empty()) {
        i = pending.front();
        pending.pop_front();
        read = std::move(reads[i]);
        reads[i].reset();
      } else if (next < n && next < printed + kAhead) {
        i = next++;
        lock.unlock();
        read = !stdinError[i].empty()
                   ? Read{{}, stdinError[i]}
                   : ReadMessage(files[i], stdinBytes[i] ? &*stdinBytes[i] : nullptr);
        lock.lock();
        if (rules == Rules::kLoading) {
          reads[i] = std::move(read);
          pending.push_back(i);
          continue;
        }
        if (rules == Rules::kFailed) return;
      } else if (next >= n && pending.empty() && rules == Rules::kReady) {
        return;
      } else {
        room.wait(lock);  // for the rules, or for room to read ahead
        continue;
      }
      lock.unlock();
      Judged j = Judge(table, files[i], *read);
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
  const auto setRules = [&](Rules state) {
    {
      std::lock_guard<std::mutex> guard(mutex);  // guards rules
      rules = state;
    }
    room.notify_all();
  };

  std::vector<std::jthread> helpers;
  const std::size_t threads = std::min<std::size_t>(UsableCores(), n);
  // Standard input is read after the storage opens (its first start may ask
  // a question there), so with "-" among the files nothing starts early.
  // Otherwise every core reads from the start, and this thread, which opens
  // the storage, only waits for them afterwards.
  if (!readsStdin)
    for (std::size_t t = 0; t < threads; ++t) helpers.emplace_back(work);

  // 2, not 1: to a mail filter 1 means spam.
  auto storage = OpenStorage(o.mail.storage);
  // Without the rules every message would pass as normal; the load said why.
  if (!storage || !storage->rules.LoadRules()) {
    setRules(Rules::kFailed);
    return 2;
  }
  // The first check indexes the rules; here, before the threads need it.
  CheckRules(table, RuleEntry{});

  if (readsStdin) {
    // Standard input is read here, once: the first "-" gets it, any later
    // one the empty rest, as when the files were read one after the other.
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
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  }
  setRules(Rules::kReady);
  if (readsStdin) work();
  helpers.clear();  // joined
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
