// The device root and storage that the data commands share.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "platform/single_instance.h"
#include "storage/init_storage.h"

namespace varnox {

struct StorageOptions {
  std::string root;
  bool useCard = false;
};

// --root DIR and --use-card on cmd.
void AddStorageOptions(CLI::App* cmd, StorageOptions& options);

// The card question on the terminal: asked when standard input is one,
// answered No otherwise; --use-card answers Yes.
YesNoQuestion TerminalQuestion(bool useCard);

// Makes the device root when it is missing. False, with the path and the
// reason on standard error, when it is no folder or cannot be written.
bool PrepareDeviceRoot(const std::string& root);

// Takes the root's one-running-copy lock into instance. 0 when held; else
// says why on standard error: 255 with busyText when another copy holds
// it, 1 when the lock cannot be taken at all.
int LockDeviceRoot(SingleInstanceLock& instance, const char* busyText);

// Resolves the root and prepares it: the first command on a new root makes
// the data folder and its databases. Null (the reason said on standard
// error) when the root cannot be used.
std::unique_ptr<Storage> OpenStorage(const StorageOptions& options);

// How a log database is named to the user: "SMS" for the SMS log, else the
// store's name (the file name without ".db").
std::string LogName(const std::string& path);

// Text for one tab-separated output line: control characters become blanks.
std::string OneLine(std::string text);

}  // namespace varnox
