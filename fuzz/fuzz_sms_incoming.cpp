// Received-message spool files of any bytes: parsed without a fault, and the
// converted alphabets always give well-formed UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/sms_incoming.h"

namespace {

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  varnox::IncomingSms sms;
  std::string error;
  varnox::ParseIncomingSms(bytes, sms, error);
  if (!ValidUtf8(varnox::Ucs2BigEndianToUtf8(bytes))) std::abort();
  if (!ValidUtf8(varnox::Iso885915ToUtf8(bytes))) std::abort();
  return 0;
}
