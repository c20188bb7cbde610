#include "app/sms_setup.h"

#include <cstdlib>

#include "platform/device.h"

namespace varnox {

std::string PrepareSms(const std::string& option, const Storage& storage) {
  std::string spool = option;
  if (spool.empty()) {
    spool = storage.locations.DeviceRoot() + "/spool";
    for (const char* sub : {"/incoming", "/outgoing"}) CreateDirectoryChain(spool + sub);
  }
  ::setenv("VARNOX_DATA_FOLDER", storage.locations.DataFolder().c_str(), 1);
  ::setenv("VARNOX_SMS_SPOOL", spool.c_str(), 1);
  return spool;
}

}  // namespace varnox
