#include "app/storage_setup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool PrepareDeviceRoot(const std::string& root) {
  CreateDirectoryChain(root);
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0) {
    std::fprintf(stderr, "varnox: cannot make the device root %s: %s\n", root.c_str(),
                 std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "varnox: the device root %s is not a folder\n", root.c_str());
    return false;
  }
  // The data folder, the lock and the spool are made inside it.
  if (::access(root.c_str(), W_OK | X_OK) != 0) {
    std::fprintf(stderr, "varnox: the device root %s cannot be written: %s\n", root.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

int LockDeviceRoot(SingleInstanceLock& instance, const char* busyText) {
  if (instance.held()) return 0;
  // 255 says another copy runs; a lock that cannot be taken is an error.
  if (!instance.error().empty()) {
    std::fprintf(stderr, "varnox: cannot take the lock %s\n", instance.error().c_str());
    return 1;
  }
  std::fprintf(stderr, "varnox: %s\n", busyText);
  return 255;
}

std::unique_ptr<Storage> OpenStorage(const StorageOptions& options) {
  const std::string root = ResolveDeviceRoot(options.root);
  if (!PrepareDeviceRoot(root)) return nullptr;
  auto storage = std::make_unique<Storage>(root, DefaultClock(), GlobalRuleTable());
  storage->locations.FindInstallFolder();
  storage->InitStorage(1, TerminalQuestion(options.useCard));
  return storage;
}

std::string LogName(const std::string& path) {
  if (IsSmsLogPath(path)) return "SMS";
  const auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 3) name.resize(name.size() - 3);  // ".db"
  return name;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace varnox
