#include "mailstore/auto_response.h"

#include <vector>

#include "platform/sms_spool.h"
#include "platform/trace.h"

namespace varnox {

void SmsSender::SendSms(int report, const std::string& recipient, const std::string& text) {
  std::string error;
  if (!Send(report, recipient, text, error)) Trace("SendSms: " + error);
}

bool SmsSender::Send(int report, const std::string& recipient, const std::string& text,
                     std::string& error) {
  return WriteSpoolMessage(spoolDir_, recipient, text, report != 0, error);
}

AutoResponder::AutoResponder(DataLocations& locations, RuleStore& rules, SmsSender& sender,
                             PauseGate& gate, std::function<void()> reloadList)
    : locations_(locations),
      rules_(rules),
      sender_(sender),
      gate_(gate),
      reloadList_(std::move(reloadList)) {}

int AutoResponder::AutoResponseThread() {
  try {
    do {
      RunCycle();
    } while (gate_.Sleep(std::chrono::milliseconds(3000)));
    return 0;
  } catch (...) {
    return -1;
  }
}

int AutoResponder::RunCycle() {
  std::vector<int> ids;
  if (!locations_.TakeResponseRequests(ids)) return 0;
  if (reloadList_) reloadList_();
  int sent = 0;
  for (int id : ids) {
    std::string sender, response;
    int useResponse = 0;
    if (!rules_.FindRuleById(id, sender, response, useResponse)) continue;
    if (useResponse == 0) continue;
    sender_.SendSms(0, sender, response);
    ++sent;
  }
  return sent;
}

}  // namespace varnox
