// Everything storage keeps for one run, and its preparation at start-up.
#pragma once

#include <string>

#include "analysis/rules.h"
#include "storage/data_locations.h"
#include "storage/message_log.h"
#include "storage/rule_store.h"
#include "storage/sms_log.h"

namespace varnox {

// The texts of the card question, replaced by the interface language.
struct CardQuestionTexts {
  std::string text = "Use CF Card?";
  std::string caption = "Question";
};

class Storage {
 public:
  Storage(std::string deviceRoot, const Clock& clock, RuleTable& table);
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  DataLocations locations;
  SmsLog smsLog;
  RuleStore rules;
  MessageLog messages;

  // Prepares the data folder and the databases (once per run). With create
  // set, a first start chooses between the storage card and the device
  // itself, asking through ask when a card exists.
  void InitStorage(int create, const YesNoQuestion& ask, const CardQuestionTexts& texts = {});

 private:
  void CreateSmsLog(const YesNoQuestion& ask, const CardQuestionTexts& texts);
  bool initialized_ = false;
};

}  // namespace varnox
