#include "platform/sms_incoming.h"

#include <gtest/gtest.h>

namespace varnox {
namespace {

using namespace std::string_literals;

// The sender's plus sign, the received time, reports and files without a
// sender are pinned by the spool watcher's tests on the same parser.
TEST(IncomingSms, SmstoolsFileIsReadWithItsAlphabet) {
  const std::pair<std::string, std::string> cases[] = {
      {"From: 4917\nAlphabet: ISO\nUDH: false\nX-Unknown: 1\n\nPreis: 5 \xA4, \246ch\xF6n",
       "+4917|Preis: 5 €, Šchön"},  // ISO-8859-15
      // A name keeps its form.
      {"From: Bank\r\nAlphabet: UCS2\r\n\r\n\x00H\x00i\x20\xAC"s, "Bank|Hi€"},
      {"From: 4917\nAlphabet: UTF-8\n\nGrüße\n", "+4917|Grüße\n"},
      {"From: 49\xFF\nAlphabet: UTF-8\n\nhi\x80", "49\uFFFD|hi\uFFFD"},
      {"From: 49\nAlphabet: GSM\n\n\x00home"s, "+49|@home"},
  };
  for (const auto& [file, columns] : cases) {
    IncomingSms sms;
    std::string error;
    ASSERT_TRUE(ParseIncomingSms(file, sms, error)) << error;
    EXPECT_EQ(sms.sender + "|" + sms.text, columns);
  }
  IncomingSms sms;
  std::string error;
  EXPECT_FALSE(ParseIncomingSms("From: 4917\nno empty line", sms, error));
  EXPECT_FALSE(ParseIncomingSms("From: 4917\nReceived: 99-13-45 25:00:00\n\nx", sms, error) &&
               sms.hasReceived);
}

TEST(IncomingSms, BrokenTextGivesReplacementCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"Grüße 😀 €", "Grüße 😀 €"},     {"a\377b", "a\uFFFDb"},
      {"\xC0\xAF", "\uFFFD"},          // overlong '/'
      {"\xED\xA0\x80x", "\uFFFDx"},    // a surrogate
      {"\xF4\x90\x80\x80", "\uFFFD"},  // past U+10FFFF
      {"end\xE2\x82", "end\uFFFD"},    // cut short
      {"\342\202A", "\uFFFDA"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidUtf8(in), out) << in;
  EXPECT_EQ(Gsm0338ToUtf8("\x00\x01\x10\x1E\x7F"s), "@£Δßà");
  EXPECT_EQ(Gsm0338ToUtf8("\x1B\x65 5\x1B\x3C\x1B\x3E \x1B\x41 \x1B"), "€ 5[] A  ");
  EXPECT_EQ(Gsm0338ToUtf8("a\x80"), "a\uFFFD");
  EXPECT_EQ(Ucs2BigEndianToUtf8("\xD8\x3D\xDE\x00"s), "😀");  // a surrogate pair
  EXPECT_EQ(Ucs2BigEndianToUtf8("\xD8\x3D\x00\x41"s), "\uFFFDA");
  EXPECT_EQ(Ucs2BigEndianToUtf8("\xDC\x00"s), "\uFFFD");
  EXPECT_EQ(Ucs2BigEndianToUtf8("\x00\x41\x42"s), "A\uFFFD");  // odd byte
}

}  // namespace
}  // namespace varnox
