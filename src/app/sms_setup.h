// The SMS side that `varnox scan` and the program share: the spool folder
// and what the companion library that watches it is handed.
#pragma once

#include <string>

#include "storage/init_storage.h"

namespace varnox {

// The spool of --sms-spool, else <root>/spool, which is Varnox's own and is
// made ready (incoming/ and outgoing/) for smsd or for files put there.
// Hands the companion the data folder and the spool through the
// environment, so it runs before any thread is started.
std::string PrepareSms(const std::string& option, const Storage& storage);

}  // namespace varnox
