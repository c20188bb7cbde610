// Outgoing SMS and the automatic response to rules that fire on SMS: the
// companion asks for responses by rule Id in ss.dat; every 3 s they are taken
// and each rule's response is sent to the rule's sender text.
#pragma once

#include <functional>
#include <string>

#include "platform/pause_gate.h"
#include "storage/data_locations.h"
#include "storage/rule_store.h"

namespace varnox {

class SmsSender {
 public:
  explicit SmsSender(std::string spoolDir) : spoolDir_(std::move(spoolDir)) {}
  // Sends one SMS; a failure sends nothing and is not reported.
  void SendSms(int report, const std::string& recipient, const std::string& text);
  // The same, saying why it failed (the send command reports it).
  bool Send(int report, const std::string& recipient, const std::string& text, std::string& error);
  const std::string& spoolDir() const { return spoolDir_; }

 private:
  std::string spoolDir_;
};

class AutoResponder {
 public:
  // reloadList asks the viewer to reload its list (requests mean new SMS).
  AutoResponder(DataLocations& locations, RuleStore& rules, SmsSender& sender, PauseGate& gate,
                std::function<void()> reloadList = {});

  // Every 3000 ms: one cycle. Returns 0 when stopped, -1 after a fault.
  int AutoResponseThread();
  // Takes the pending requests and sends the replies; returns how many.
  int RunCycle();

 private:
  DataLocations& locations_;
  RuleStore& rules_;
  SmsSender& sender_;
  PauseGate& gate_;
  std::function<void()> reloadList_;
};

}  // namespace varnox
