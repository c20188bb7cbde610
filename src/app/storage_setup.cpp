#include "app/storage_setup.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/clock.h"
#include "platform/device.h"

namespace varnox {

void AddStorageOptions(CLI::App* cmd, StorageOptions& options) {
  cmd->add_option("--root", options.root,
                  "Device root (default: $VARNOX_ROOT, else ~/.local/share/varnox)");
  cmd->add_flag("--use-card", options.useCard,
                "On a first start with a storage card, keep the data on the card");
}

YesNoQuestion TerminalQuestion(bool useCard) {
  return [useCard](const std::string& text, const std::string& caption) {
    if (useCard) return true;
    if (!isatty(STDIN_FILENO)) return false;
    std::fprintf(stderr, "%s: %s [y/N] ", caption.c_str(), text.c_str());
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  };
}

std::unique_ptr<Storage> OpenStorage(const StorageOptions& options) {
  auto storage =
      std::make_unique<Storage>(ResolveDeviceRoot(options.root), DefaultClock(), GlobalRuleTable());
  CreateDirectoryChain(storage->locations.DeviceRoot());
  storage->locations.FindInstallFolder();
  storage->InitStorage(1, TerminalQuestion(options.useCard));
  return storage;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace varnox
