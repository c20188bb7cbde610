#include "app/program.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/main_window.h"
#include "app/rule_editor.h"
#include "app/running_program.h"
#include "app/shipped_content.h"
#include "app/sms_setup.h"
#include "app/viewer.h"
#include "app/workers.h"
#include "html2txt/html_converter.h"
#include "i18n/interface_strings.h"
#include "mailstore/auto_response.h"
#include "mailstore/scan.h"
#include "platform/device.h"
#include "platform/maildir.h"
#include "platform/shared_library.h"
#include "platform/single_instance.h"
#include "storage/data_locations.h"
#include "web/server.h"

namespace varnox {
namespace {

bool SplitListen(const std::string& listen, std::string& host, int& port) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = listen.substr(0, colon);
  const std::string digits = listen.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(digits);
  return port <= 65535;
}

// A test-only factor for every pause of the program (VARNOX_PAUSE_SCALE,
// for example 0.01), so that tests of the whole program need not wait the
// product's timings.
double PauseScale() {
  const char* text = std::getenv("VARNOX_PAUSE_SCALE");
  if (!text) return 1.0;
  char* end = nullptr;
  const double scale = std::strtod(text, &end);
  return end != text && scale > 0 && scale <= 1 ? scale : 1.0;
}

// Another copy holds the root: the window's copy wrote its address, a scan
// did not. The address may still be on its way: look twice.
int ReportRunningCopy(const std::string& root, bool open) {
  std::string address = ReadProgramAddress(root);
  if (address.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    address = ReadProgramAddress(root);
  }
  if (address.empty()) {
    std::fprintf(stderr, "varnox: varnox scan runs on this root; stop it to start the window\n");
    return 255;
  }
  std::fprintf(stderr, "varnox: Varnox already runs on this root\n");
  std::printf("Varnox: %s\n", address.c_str());
  std::fflush(stdout);
  if (open) OpenInBrowser(address);
  return 255;
}

}  // namespace

void AddWindowOptions(CLI::App* cmd, ProgramOptions& options) {
  cmd->add_option("--sms-spool", options.spool,
                  "The smstools3 spool for SMS (default: <root>/spool)");
  cmd->add_option(
      "--listen", options.listen,
      "Address of the window, HOST:PORT (default 127.0.0.1:8740; port 0 takes a free one)");
  cmd->add_flag("--open", options.open, "Open the window in the browser");
}

int RunProgram(const ProgramOptions& o) {
  std::string host;
  int port = 0;
  if (!SplitListen(o.listen, host, port)) {
    std::fprintf(stderr, "varnox: --listen wants HOST:PORT, not \"%s\"\n", o.listen.c_str());
    return 1;
  }
  const std::string root = ResolveDeviceRoot(o.mail.storage.root);
  if (!PrepareDeviceRoot(root)) return 1;
  CreateHtmlConverter();
  InitMailHeaderParser();
  SingleInstanceLock instance(root);
  if (!instance.held()) {
    if (!instance.error().empty()) {
      std::fprintf(stderr, "varnox: cannot take the lock %s\n", instance.error().c_str());
      return 1;
    }
    return ReportRunningCopy(root, o.open);
  }
  auto storage = OpenStorage(o.mail.storage);
  if (!storage) return 1;
  if (storage->locations.DataFolder().empty()) {
    std::fprintf(stderr, "varnox: cannot make the data folder %s/%s/dba\n", root.c_str(),
                 kProductName);
    return 1;
  }
  std::string error;
  if (!InstallShippedContent(storage->locations.InstallFolder(), error))
    std::fprintf(stderr, "varnox: %s\n", error.c_str());

  const std::string spool = PrepareSms(o.spool, *storage);

  // Every thread started from here on leaves SIGINT and SIGTERM to the wait
  // at the end, which ends the program as "Exit" does.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const double scale = PauseScale();
  WindowModel model;
  InterfaceStrings strings;
  UiThread ui(model);
  PauseGate scanGate(true, scale);
  PauseGate helpers(true, scale);
  StoreScan scan(MailFolder(o.mail, *storage), storage->messages, storage->rules, GlobalRuleTable(),
                 scanGate);
  Viewer viewer(model, *storage, scan, storage->locations.InstallFolder(), strings);
  Workers workers(viewer, *storage, GlobalRuleTable(), scan, scanGate, strings);
  scan.SetHooks(ViewerScanHooks(viewer, strings));
  RuleEditor ruleEditor(model, *storage, viewer, workers, strings,
                        [&ui](const std::string& text, const std::string& caption) {
                          return ui.MessageBox(text, caption, {"OK", "Cancel"});
                        });
  SmsSender sender(spool);
  MainWindow window(
      model, viewer, workers, ruleEditor, [] { ::kill(::getpid(), SIGTERM); },
      {ui, sender, strings, {storage->locations.InstallFolder(), storage->locations.DeviceRoot()}});
  ui.Run([&] { window.Create(); });

  ServerOptions serverOptions;
  serverOptions.host = host;
  serverOptions.port = port;
  serverOptions.pageFile = [&] { return viewer.PageFilePath(); };
  serverOptions.helpFile = [&] { return window.HelpFilePath(); };
  WebServer server(model, ui, window, serverOptions);
  if (!server.Start(error)) {
    std::fprintf(
        stderr, "varnox: cannot listen on %s: %s; choose another address with --listen HOST:PORT\n",
        o.listen.c_str(), error.c_str());
    return 1;
  }
  if (!WriteProgramAddress(root, server.Address()))
    std::fprintf(stderr, "varnox: cannot write %s/.ClassName\n", root.c_str());
  std::printf("Varnox: %s\n", server.Address().c_str());
  std::fflush(stdout);
  if (o.open) OpenInBrowser(server.Address());

  // The workers: automatic responses, the SMS companion, the scan.
  storage->rules.LoadRules();
  AutoResponder responder(storage->locations, storage->rules, sender, helpers,
                          [&] { viewer.ReloadMessageList(); });
  std::thread responses([&] { responder.AutoResponseThread(); });
  const SharedLibrary companion = LoadCompanion();
  scan.Start();
  workers.StartRulesWatch();

  int sig = 0;
  sigwait(&signals, &sig);

  // Ending: the browsers hear "bye", the workers stop at their next safe
  // point, and the databases close with the objects that hold them.
  server.Stop();
  workers.Stop();
  scan.Join();
  helpers.Stop();
  responses.join();
  ui.Stop();
  RemoveProgramAddress(root);
  return 0;
}

}  // namespace varnox
