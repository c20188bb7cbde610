#include <gtest/gtest.h>

#include <string>

#include "analysis/fingerprint.h"

namespace varnox {
namespace {

std::string Fp(const char* text) {
  char out[kFingerprintSize];
  MessageFingerprint(text, out);
  return out;
}

TEST(Fingerprint, MatchesTheMd4TestSuite) {
  EXPECT_EQ(Fp(""), "31d6cfe0d16ae931b73c59d7e0c089c0");
  EXPECT_EQ(Fp("abc"), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(Fp("message digest"), "d9130a8164549fe818874806e1c7014b");
  EXPECT_EQ(Fp("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "043f8582f241db351ce627e153e7f0e4");
  EXPECT_EQ(Fp("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "e33b4ddc9c38f2199c3e7b164fcc0536");
}

TEST(Fingerprint, PiecewiseFeedingGivesTheSameDigestAtEveryLength) {
  // Around the padding boundaries (55, 56, 63, 64 bytes ...) every split of
  // the input must give the one-shot digest.
  std::string text;
  for (int len = 0; len < 200; ++len) {
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
      Md4 md4;
      for (std::size_t i = 0; i < text.size(); i += piece)
        md4.Update(text.data() + i, std::min(piece, text.size() - i));
      const auto digest = md4.Finish();
      Md4 whole;
      whole.Update(text.data(), text.size());
      ASSERT_EQ(digest, whole.Finish()) << "length " << len << " piece " << piece;
    }
    text.push_back(static_cast<char>('a' + len % 26));
  }
}

TEST(Fingerprint, StopsAtTheTerminator) {
  EXPECT_EQ(Fingerprint(std::string("abc\0def", 7)).size(), 32u);
  EXPECT_NE(Fingerprint(std::string("abc\0def", 7)), Fp("abc"));
}

}  // namespace
}  // namespace varnox
