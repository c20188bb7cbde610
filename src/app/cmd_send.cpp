#include <cstdio>
#include <memory>

#include "app/data_commands.h"
#include "app/storage_setup.h"
#include "mailstore/auto_response.h"
#include "platform/device.h"

namespace varnox {
namespace {

struct SendOptions {
  StorageOptions storage;
  std::string spool;
  std::string number;
  std::string text;
  bool report = false;
};

int RunSend(const SendOptions& o) {
  const std::string spool =
      o.spool.empty() ? ResolveDeviceRoot(o.storage.root) + "/spool" : o.spool;
  SmsSender sender(spool);
  std::string error;
  if (!sender.Send(o.report ? 1 : 0, o.number, o.text, error)) {
    std::fprintf(stderr, "varnox: the SMS was not sent: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void AddSendCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<SendOptions>();
  CLI::App* cmd = app.add_subcommand(
      "send", "Send an SMS through the smstools3 spool (a file in <spool>/outgoing/)");
  AddStorageOptions(cmd, o->storage);
  cmd->add_option("--sms-spool", o->spool, "The smstools3 spool (default: <root>/spool)");
  cmd->add_option("number", o->number, "The recipient's number (its digits are used)")->required();
  cmd->add_option("text", o->text, "The message")->required();
  cmd->add_flag("--report", o->report, "Ask for a delivery report");
  cmd->callback([o, &result] { result.status = RunSend(*o); });
}

}  // namespace varnox
