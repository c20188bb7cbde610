// Options of the commands that work on the mail folder.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/storage_setup.h"

namespace varnox {

struct MailOptions {
  StorageOptions storage;
  std::string mail;  // default <root>/Mail
};

void AddMailOptions(CLI::App* cmd, MailOptions& options);
// The mail folder: --mail, else <device root>/Mail.
std::string MailFolder(const MailOptions& options, const Storage& storage);

}  // namespace varnox
