#include "storage/init_storage.h"

namespace varnox {

Storage::Storage(std::string deviceRoot, const Clock& clock, RuleTable& table)
    : locations(std::move(deviceRoot), clock),
      smsLog(locations),
      rules(locations, table),
      messages(locations) {
  rules.InstallLoader();
}

void Storage::InitStorage(int create, const YesNoQuestion& ask, const CardQuestionTexts& texts) {
  if (create) {
    StorageCards& cards = locations.Cards();
    cards.EnumStorageCards();
    locations.SetStorageCardName(cards.GetStorageCardCount() > 0 ? cards.GetStorageCardName(0)
                                                                 : std::string());
  }
  CreateDirectoryChain(locations.InstallFolder() + "/dba");
  if (initialized_) return;
  initialized_ = true;
  if (create) CreateSmsLog(ask, texts);
  smsLog.SmsLogMaxId();  // opens the SMS log, which fixes the data folder
  if (create) rules.CreateRulesTable();
  rules.RulesMaxId();  // opens the rules database
}

void Storage::CreateSmsLog(const YesNoQuestion& ask, const CardQuestionTexts& texts) {
  std::string path, table;
  if (!locations.ResolveSmsLogPath(path, table)) {
    // First start: the database goes on the card or on the device, once.
    std::string card = locations.StorageCardName();
    if (!card.empty() && locations.InstallFolder().find(card) == std::string::npos) {
      if (!ask || !ask(texts.text, texts.caption)) {
        card.clear();
        locations.SetStorageCardName("");
      }
    }
    const std::string& root = locations.DeviceRoot();
    const std::string folder = card.empty() ? root + "/" + kProductName + "/dba"
                                            : root + "/" + card + "/" + kProductName + "/dba";
    path = folder + "/" + kSmsLogFile;
    CreateDirectoryChain(folder);
  }
  ExecOnce(path, SmsLogCreateStatement());
  ExecOnce(path, SmsLogIndexStatement());
}

}  // namespace varnox
