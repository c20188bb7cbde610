// The smstools3 spool as the SMS service: a message is a file written
// completely in a private folder of the spool and renamed into outgoing/, so
// smstools never sees half a message.
#pragma once

#include <string>

namespace varnox {

constexpr std::size_t kMaxRecipient = 256;

// The number for the To: line: the digits of the first 256 characters of
// recipient (smstools wants international numbers without '+'; nothing else
// may reach the header).
std::string SpoolNumber(const std::string& recipient);

// Queues one message. False, with the reason in error, when the recipient has
// no digits or the spool's outgoing/ folder cannot be written.
bool WriteSpoolMessage(const std::string& spoolDir, const std::string& recipient,
                       const std::string& text, bool report, std::string& error);

}  // namespace varnox
