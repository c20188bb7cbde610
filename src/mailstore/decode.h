// Reading a MIME part's own header lines and turning its bytes into UTF-8
// text: quoted-printable and base64 decoding, character sets through iconv.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnox {

enum class TransferEncoding { kNone, kQuotedPrintable, kBase64 };

// What a part's header block says about the bytes that follow it.
struct PartHeaders {
  TransferEncoding encoding = TransferEncoding::kNone;
  std::string charset;  // the charset parameter, unquoted; empty when none is named
};

// Reads the header block of the part whose Content-Type field begins at
// typeStart of the lower-cased text; paramsStart is where the field's
// parameters may begin (after the media type) and blockEnd where the empty
// line ending the block starts. The block reaches back from the field to the
// previous empty line or boundary line, so a Content-Transfer-Encoding line
// before Content-Type counts too. The first such line wins.
PartHeaders ReadPartHeaders(std::string_view lowered, std::size_t typeStart,
                            std::size_t paramsStart, std::size_t blockEnd);

// Decodes quoted-printable text (=XX in either case, soft line breaks with
// optional trailing blanks). False when an "=" is followed by neither; out
// then holds what was decoded before it.
bool DecodeQuotedPrintable(std::string_view in, std::string& out);

// Decodes base64, skipping blanks and line ends. False on any other byte
// outside the alphabet, on misplaced padding or on a lone sixth-bit group at
// the end; out then holds what was decoded before. Padded blocks may follow
// one another; missing padding at the end is accepted.
bool DecodeBase64(std::string_view in, std::string& out);

// Whether text in charset must be converted to become UTF-8: false for no
// charset, us-ascii and utf-8 (and their short names).
bool NeedsCharsetConversion(std::string_view charset);

// Converts text in charset to UTF-8 into out. Bytes the charset does not
// define become U+FFFD each. False, out untouched, when the charset is
// unknown to iconv or not a plausible name.
bool ConvertToUtf8(std::string_view in, std::string_view charset, std::string& out);

}  // namespace varnox
