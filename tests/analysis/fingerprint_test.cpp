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

// The program feeds MD4 once, then its padding: the vectors of 0, 3, 14, 62
// and 80 bytes take the buffered and cross-block paths that feeding takes.
TEST(Fingerprint, MatchesTheMd4TestSuite) {
  EXPECT_EQ(Fp(""), "31d6cfe0d16ae931b73c59d7e0c089c0");
  EXPECT_EQ(Fp("abc"), "a448017aaf21d8525fc10ae87aa6729d");
  EXPECT_EQ(Fp("message digest"), "d9130a8164549fe818874806e1c7014b");
  EXPECT_EQ(Fp("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "043f8582f241db351ce627e153e7f0e4");
  EXPECT_EQ(Fp("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "e33b4ddc9c38f2199c3e7b164fcc0536");
}

TEST(Fingerprint, AStringIsHashedWholeNotToItsFirstNul) {
  EXPECT_EQ(Fingerprint(std::string("abc\0def", 7)).size(), 32u);
  EXPECT_NE(Fingerprint(std::string("abc\0def", 7)), Fp("abc"));
}

}  // namespace
}  // namespace varnox
