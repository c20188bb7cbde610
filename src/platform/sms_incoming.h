// Received-message files of the smstools3 spool (incoming/): header lines,
// an empty line, the text in the alphabet the Alphabet header names (ISO,
// GSM, UCS2, UTF-8; only its first three letters count).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace varnox {

struct IncomingSms {
  std::string sender;  // as a phone shows it: an all-digit number gets its '+'
  std::string text;    // UTF-8
  std::tm received{};  // local time of the Received: (else Sent:) header
  bool hasReceived = false;
  bool statusReport = false;  // a delivery report, not a message
};

// Parses one spool file. False, with the reason in error, when it is not a
// received message (no header block, no From:).
bool ParseIncomingSms(std::string_view file, IncomingSms& sms, std::string& error);

// ISO-8859-15 and UCS-2 big-endian to UTF-8; broken UCS-2 (an odd byte, a
// lone surrogate) gives U+FFFD, never a failure.
std::string Iso885915ToUtf8(std::string_view bytes);
std::string Ucs2BigEndianToUtf8(std::string_view bytes);
// The GSM 03.38 default alphabet (with its extension table) to UTF-8, as
// smsd stores a message when it does not convert the character set.
std::string Gsm0338ToUtf8(std::string_view bytes);
// bytes with every byte that is not part of a valid UTF-8 sequence replaced
// by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace varnox
