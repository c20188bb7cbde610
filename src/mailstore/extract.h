// Turning one message into the text fields that are classified and logged.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"  // LowerAscii, which every caller of the extraction needs

namespace varnox {

// The part of the MIME text that follows the header line headerLine (sought
// in the lower-cased text after its first line): from after the next empty
// line to the first CR LF "--" (a boundary), or to the end for an HTML
// document. The part is lower-cased. False when there is none.
bool FindMimePart(std::string_view mimeText, std::string_view headerLine, std::string& part);

// The same part as the mail store reads its text: when the part's own header
// names a transfer encoding or a character set to convert, its original bytes
// decoded to UTF-8, then lowered; cut at a NUL.
bool FindDecodedMimePart(std::string_view mimeText, std::string_view headerLine, std::string& part);

// The text of a message (its plain-text part, else its HTML part converted)
// and the token string of subject, one blank and that text. lowered is the
// lower-cased MIME text; original the same text before lowering (the same
// length), from which a part's bytes are taken when its own header names a
// transfer encoding (quoted-printable, base64) or a character set other than
// us-ascii and utf-8: they are decoded to UTF-8 and then lowered.
void ExtractMessageText(std::string_view lowered, std::string_view original,
                        const std::string& subject, std::string& tokens, std::string& text);

// The scan thread gives way for kExtractPause between finding the parts and
// using them. The form above sleeps; this one hands the pause to pause (tests
// and tools pass one that returns at once; an empty function skips it).
using ExtractPause = std::function<void(std::chrono::milliseconds)>;
inline constexpr std::chrono::milliseconds kExtractPause{10};
void ExtractMessageText(std::string_view lowered, std::string_view original,
                        const std::string& subject, std::string& tokens, std::string& text,
                        const ExtractPause& pause);

// UTF-16 to 8 bits by keeping the low byte of each code unit, up to a NUL.
std::string NarrowLowBytes(std::u16string_view wide);

}  // namespace varnox
