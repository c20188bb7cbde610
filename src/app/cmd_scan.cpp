#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/data_commands.h"
#include "app/mail_options.h"
#include "app/running_program.h"
#include "app/sms_setup.h"
#include "html2txt/html_converter.h"
#include "mailstore/auto_response.h"
#include "mailstore/scan.h"
#include "platform/device.h"
#include "platform/maildir.h"
#include "platform/shared_library.h"
#include "platform/single_instance.h"
#include "storage/data_locations.h"

namespace varnox {
namespace {

struct ScanOptions {
  MailOptions mail;
  std::string spool;
  bool once = false;
};

// Progress on the terminal, one line rewritten in place.
ScanHooks TerminalHooks() {
  ScanHooks hooks;
  if (isatty(STDERR_FILENO)) {
    hooks.showStatus = [](const std::string& text) {
      std::fprintf(stderr, "\r%-60.60s\r", text.c_str());
    };
  }
  return hooks;
}

int RunScan(const ScanOptions& o) {
  const std::string root = ResolveDeviceRoot(o.mail.storage.root);
  if (!PrepareDeviceRoot(root)) return 1;
  // A second scan on the same root would log messages twice.
  SingleInstanceLock instance(root);
  if (const int busy = LockDeviceRoot(instance, "another copy is already running on this root"))
    return busy;
  RemoveProgramAddress(root);  // left by a window program that is gone
  auto storage = OpenStorage(o.mail.storage);
  if (!storage) return 1;
  if (storage->locations.DataFolder().empty()) {
    std::fprintf(stderr, "varnox: cannot make the data folder %s/%s/dba\n", root.c_str(),
                 kProductName);
    return 1;
  }
  InitMailHeaderParser();
  CreateHtmlConverter();

  PauseGate gate(!o.once);
  StoreScan scan(MailFolder(o.mail, *storage), storage->messages, storage->rules, GlobalRuleTable(),
                 gate, TerminalHooks());
  if (o.once) {
    storage->rules.LoadRules();
    if (!scan.LogonMailStore()) {
      std::fprintf(stderr, "varnox: cannot read the mail folder %s\n",
                   MailFolder(o.mail, *storage).c_str());
      return 1;
    }
    scan.RunPass();
    if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\r%60s\r", "");
    for (int i = 0; i < scan.GetStoreCount(); ++i) {
      std::string name;
      scan.GetStoreName(i, name);
      StoreReport report{name, 0, 0, 0};
      for (const auto& r : scan.Reports())
        if (r.name == name) report = r;
      std::printf("%s: %d examined, %d logged, %d moved\n", name.c_str(), report.examined,
                  report.logged, report.moved);
    }
    // A pass that could not log or classify every message is no success,
    // though each failure was told as it happened.
    int status = std::fflush(stdout) == 0 ? 0 : 1;
    if (!storage->rules.RulesLoaded()) {
      std::string path, table;
      storage->locations.ResolveRulesPath(path, table);
      std::fprintf(stderr, "varnox: nothing was classified: the rules in %s could not be read\n",
                   path.c_str());
      status = 1;
    }
    for (const std::string& path : storage->messages.FailedLogs()) {
      std::fprintf(stderr, "varnox: not every message was logged: %s could not be used\n",
                   path.c_str());
      status = 1;
    }
    return status;
  }

  // In the foreground until interrupted: a signal stops the scan at its next
  // safe point.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The automatic responses, and the rules reloaded whenever rs.dat is
  // renewed (by `varnox rules add|delete` or the rule editor), run beside the
  // scan with a gate of their own: pausing the scan does not stop them.
  PauseGate helpers(true);
  storage->rules.LoadRules();  // before the first requests are looked up
  const std::string spool = PrepareSms(o.spool, *storage);
  // The companion starts its own watcher of the spool.
  const SharedLibrary companion = LoadCompanion();
  std::fprintf(stderr,
               "varnox: watching the mail folder %s and the SMS spool %s%s (Ctrl-C stops)\n",
               MailFolder(o.mail, *storage).c_str(), spool.c_str(),
               companion.IsOpen() ? "" : " for responses only (no librulehook.so)");
  SmsSender sender(spool);
  AutoResponder responder(storage->locations, storage->rules, sender, helpers);
  std::thread responses([&] { responder.AutoResponseThread(); });
  std::thread rulesWatch([&] {
    std::int64_t seen = RulesSignalStamp(storage->locations.DataFolder());
    while (helpers.Sleep(std::chrono::milliseconds(1000))) {
      const std::int64_t now = RulesSignalStamp(storage->locations.DataFolder());
      // A load that fails keeps the rules in force and is tried again.
      if (now != seen && storage->rules.LoadRules()) seen = now;
    }
  });
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&signals, &sig);
    gate.Stop();
    helpers.Stop();
  });
  gate.WorkerStarted();
  scan.MailStoreThread();
  gate.WorkerEnded();
  const bool stopped = gate.Stopping();
  if (!stopped) {
    std::fprintf(stderr, "varnox: cannot read the mail folder %s\n",
                 MailFolder(o.mail, *storage).c_str());
    kill(getpid(), SIGTERM);  // wakes the waiter
  }
  waiter.join();
  responses.join();
  rulesWatch.join();
  return stopped ? 0 : 1;
}

}  // namespace

void AddScanCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<ScanOptions>();
  CLI::App* cmd = app.add_subcommand(
      "scan", "Watch the stores of the mail folder: log every message, move spam to .Spam");
  AddMailOptions(cmd, o->mail);
  cmd->add_option("--sms-spool", o->spool,
                  "The smstools3 spool for automatic responses (default: <root>/spool)");
  cmd->add_flag("--once", o->once,
                "One pass over every store without pauses, then a report per store");
  cmd->callback([o, &result] { result.status = RunScan(*o); });
}

}  // namespace varnox
