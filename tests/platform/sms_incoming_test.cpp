#include "platform/sms_incoming.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace varnox {
namespace {

using namespace std::string_literals;

TEST(IncomingSms, SmstoolsFileIsReadWithItsAlphabet) {
  IncomingSms sms;
  std::string error;
  ASSERT_TRUE(
      ParseIncomingSms("From: 491721234567\nFrom_SMSC: 491722270333\n"
                       "Sent: 00-02-21 22:26:23\nReceived: 00-02-21 22:26:29\n"
                       "Subject: modem1\nAlphabet: ISO\nUDH: false\nX-Unknown: 1\n\n"
                       "Preis: 5 \xA4, \246ch\xF6n",
                       sms, error))
      << error;
  EXPECT_EQ(sms.sender, "+491721234567");  // as a phone shows it
  EXPECT_EQ(sms.text, "Preis: 5 €, Šchön");
  ASSERT_TRUE(sms.hasReceived);
  EXPECT_EQ(TimeText(sms.received) + LongDateText(sms.received),
            "10:26:29 PMMonday, February 21, 2000");  // Received wins over Sent
  EXPECT_FALSE(sms.statusReport);

  ASSERT_TRUE(
      ParseIncomingSms("From: Bank\r\nAlphabet: UCS2\r\n\r\n\x00H\x00i\x20\xAC"s, sms, error));
  EXPECT_EQ(sms.sender, "Bank");  // a name keeps its form
  EXPECT_EQ(sms.text, "Hi€");

  ASSERT_TRUE(ParseIncomingSms("From: 4917\nAlphabet: UTF-8\n\nGrüße\n", sms, error));
  EXPECT_EQ(sms.text, "Grüße\n");
  EXPECT_FALSE(sms.hasReceived);
}

TEST(IncomingSms, GsmAlphabetIsDecoded) {
  EXPECT_EQ(Gsm0338ToUtf8(std::string("\x00\x01\x10\x1E\x7F", 5)), "@£Δßà");
  EXPECT_EQ(Gsm0338ToUtf8("\x1B\x65 5\x1B\x3C\x1B\x3E \x1B\x41 \x1B"), "€ 5[] A  ");
  EXPECT_EQ(Gsm0338ToUtf8("a\x80"), "a\uFFFD");
  IncomingSms sms;
  std::string error;
  ASSERT_TRUE(ParseIncomingSms(std::string("From: 49\nAlphabet: GSM\n\n\x00home", 29), sms, error));
  EXPECT_EQ(sms.text, "@home");
}

TEST(IncomingSms, InvalidUtf8BecomesReplacementCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"Grüße 😀 €", "Grüße 😀 €"},     {"a\377b", "a\uFFFDb"},
      {"\xC0\xAF", "\uFFFD"},          // overlong '/'
      {"\xED\xA0\x80x", "\uFFFDx"},    // a surrogate
      {"\xF4\x90\x80\x80", "\uFFFD"},  // past U+10FFFF
      {"end\xE2\x82", "end\uFFFD"},    // cut short
      {"\342\202A", "\uFFFDA"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidUtf8(in), out) << in;
  IncomingSms sms;
  std::string error;
  ASSERT_TRUE(ParseIncomingSms("From: 49\xFF\nAlphabet: UTF-8\n\nhi\x80", sms, error));
  EXPECT_EQ(sms.sender, "49\uFFFD");
  EXPECT_EQ(sms.text, "hi\uFFFD");
}

TEST(IncomingSms, BrokenUcs2GivesReplacementCharacters) {
  EXPECT_EQ(Ucs2BigEndianToUtf8(std::string("\xD8\x3D\xDE\x00", 4)), "😀");  // a surrogate pair
  EXPECT_EQ(Ucs2BigEndianToUtf8(std::string("\xD8\x3D\x00\x41", 4)), "\uFFFDA");
  EXPECT_EQ(Ucs2BigEndianToUtf8(std::string("\xDC\x00", 2)), "\uFFFD");
  EXPECT_EQ(Ucs2BigEndianToUtf8(std::string("\x00\x41\x42", 3)), "A\uFFFD");  // odd byte
}

TEST(IncomingSms, ReportsAndUnparsableFilesAreTold) {
  IncomingSms sms;
  std::string error;
  ASSERT_TRUE(ParseIncomingSms("From: 4917\n\nSMS STATUS REPORT\nMessage_id: 1\n", sms, error));
  EXPECT_TRUE(sms.statusReport);
  EXPECT_FALSE(ParseIncomingSms("", sms, error));
  EXPECT_FALSE(ParseIncomingSms("Alphabet: ISO\n\ntext", sms, error));
  EXPECT_NE(error.find("From"), std::string::npos);
  EXPECT_FALSE(ParseIncomingSms("From: 4917\nno empty line", sms, error));
  EXPECT_FALSE(ParseIncomingSms("From: 4917\nReceived: 99-13-45 25:00:00\n\nx", sms, error) &&
               sms.hasReceived);

  // A 1 MB body is read whole.
  const std::string big(1u << 20, 'x');
  ASSERT_TRUE(ParseIncomingSms("From: 4917\nAlphabet: UCS2\n\n" + big, sms, error));
  EXPECT_EQ(sms.text.size(), 3u * (big.size() / 2));  // U+7878 takes three bytes
}

}  // namespace
}  // namespace varnox
