#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/data_commands.h"
#include "app/storage_setup.h"

namespace varnox {
namespace {

struct LogOptions {
  StorageOptions storage;
  int day = 0;
  bool spam = false;
  bool normal = false;
};

// The sender column: the display name, else the address (a From: with no
// name), so that no row shows an empty sender.
std::string Sender(const LogRow& row) {
  if (!row.sender.empty()) return row.sender;
  std::string address;
  ExtractAddress(row.senderEmail, address);
  return address;
}

// Prints the rows of one database for the day; returns how many.
int PrintLog(MessageLog& log, const std::string& path, const LogOptions& o) {
  const bool sms = IsSmsLogPath(path);
  LogRow row;
  const int spam = o.spam ? 1 : 0;
  const int normal = (o.normal || !o.spam) ? 1 : 0;
  if (!log.MAPIGetNextMessage(0, path, 1, 1, 1, o.day, spam, normal, row)) return 0;
  int n = 0;
  const std::string store = LogName(path);
  while (log.MAPIGetNextMessage(2, path, 1, 1, 1, o.day, spam, normal, row)) {
    std::printf("%s\t%s\t%d\t%s\t%s\t%s\t%s\n", sms ? "sms" : "mail", OneLine(store).c_str(),
                row.id, OneLine(row.time).c_str(), OneLine(Sender(row)).c_str(),
                row.status == 1 ? "spam" : "normal",
                OneLine(sms ? row.rawBody : row.subject).c_str());
    ++n;
  }
  log.MAPIGetNextMessage(1, path, 1, 1, 1, o.day, spam, normal, row);
  return n;
}

int RunLog(const LogOptions& o) {
  auto storage = OpenStorage(o.storage);
  if (!storage) return 1;
  DataLocations& loc = storage->locations;
  if (loc.DataFolder().empty()) {
    std::fprintf(stderr, "varnox: no data folder under %s\n", loc.DeviceRoot().c_str());
    return 1;
  }
  // SMS first, then the message logs in name order.
  std::vector<std::string> logs;
  std::string path;
  loc.EnumLogDatabases(0, path);
  while (loc.EnumLogDatabases(1, path))
    if (!IsSmsLogPath(path) && path.find(kRulesFile) == std::string::npos) logs.push_back(path);
  loc.EnumLogDatabases(2, path);
  std::sort(logs.begin(), logs.end());
  logs.insert(logs.begin(), loc.DataFolder() + kSmsLogFile);
  for (const std::string& p : logs) PrintLog(storage->messages, p, o);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

void AddLogCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<LogOptions>();
  CLI::App* cmd = app.add_subcommand(
      "log",
      "List the logged SMS and messages of a day: kind, store, Id, time, sender, "
      "status, subject or text (tab-separated)");
  AddStorageOptions(cmd, o->storage);
  cmd->add_option("--day", o->day, "Days back from today (0: today)")
      ->capture_default_str()
      ->check(CLI::Range(0, 100000));
  cmd->add_flag("--spam", o->spam, "List spam");
  cmd->add_flag("--normal", o->normal, "List normal messages (the default)");
  cmd->callback([o, &result] { result.status = RunLog(*o); });
}

}  // namespace varnox
