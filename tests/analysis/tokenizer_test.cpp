#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>

#include "analysis/tokenizer.h"
#include "platform/stemmer.h"
#include "reference/tokenizer_plain.h"

namespace varnox {
namespace {

std::string Tokens(const std::string& text) {
  return BuildTokenString(text);
}

std::string PlainTokens(std::string text) {
  std::string out(text.size() + 2, '\0');
  BuildTokenStringPlain(text.data(), out.data());
  return out.c_str();
}

// Independent of both tokenizers' bookkeeping: classify, stem every word on
// its own, collect in a set.
std::string OracleTokens(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  std::vector<unsigned char> delim;
  ClassifyDelimiters(text, delim);
  std::set<std::string> stems;
  for (std::size_t i = 0; i < text.size();) {
    if (delim[i]) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && !delim[j]) ++j;
    std::string word = text.substr(i, j - i);
    p_PorterStem(word.data());
    word.resize(std::strlen(word.c_str()));
    if (!word.empty()) stems.insert(word);
    i = j;
  }
  std::string out;
  for (const auto& s : stems) out += s + " ";
  return out;
}

TEST(Tokenizer, EmptyAndDelimiterOnlyTextsGiveNoTokens) {
  EXPECT_EQ(Tokens(""), "");
  EXPECT_EQ(Tokens(" \t\r\n!$%&/()=?`{[]\\@*+~'#><|;,:._-\""), "");
  EXPECT_EQ(Tokens("\xC2\xA7\xC2\xB4\xA7\xB4"), "");
}

TEST(Tokenizer, FoldsCaseBeforeRemovingRepeats) {
  EXPECT_EQ(Tokens("Hello, hello HELLO"), "hello ");
  EXPECT_EQ(Tokens("win a free prize, WIN now!"), "a free now prize win ");
}

TEST(Tokenizer, SplitsAtPunctuationButNotAtEveryByte) {
  EXPECT_EQ(Tokens("e-mail"), "e mail ");
  EXPECT_EQ(Tokens("12:30 P.M."), "12 30 m p ");
  EXPECT_EQ(Tokens("{x}"), "x} ");
  EXPECT_EQ(Tokens("^_^"), "^ ");
  EXPECT_EQ(Tokens("a\x7f"
                   "b"),
            "a\x7f"
            "b ");
}

TEST(Tokenizer, StemsEveryWord) {
  EXPECT_EQ(Tokens("Running runs RUN"), "run ");
  EXPECT_EQ(Tokens("ponies caresses"), "caress poni ");
}

TEST(Tokenizer, OrdersByUnsignedBytesWithPrefixesFirst) {
  EXPECT_EQ(Tokens("zed winner \xC3\xA9t\xC3\xA9 win } ^ 9"),
            "9 ^ win winner zed } \xC3\xA9t\xC3\xA9 ");
}

TEST(Tokenizer, SectionSignAndAcuteAccentDelimitOnlyAsCharacters) {
  // As UTF-8 characters and as lone Latin-1 bytes they split.
  EXPECT_EQ(Tokens("a\xC2\xA7"
                   "b"),
            "a b ");
  EXPECT_EQ(Tokens("a\xC2\xB4"
                   "b"),
            "a b ");
  EXPECT_EQ(Tokens("a\xA7"
                   "b\xB4"
                   "c"),
            "a b c ");
  // Inside other characters (ç, ô) they are letters.
  EXPECT_EQ(Tokens("gar\xC3\xA7on"), "gar\xC3\xA7on ");
  EXPECT_EQ(Tokens("c\xC3\xB4te"), "c\xC3\xB4te ");
  // A broken sequence leaves a lone lead byte (a token byte) and a lone A7.
  EXPECT_EQ(Tokens("y\xE3\xA7x"), "x y\xE3 ");
  // Overlong and surrogate forms are not characters either.
  EXPECT_EQ(Tokens("a\xC0\xA7"
                   "b"),
            "a\xC0 b ");
  EXPECT_EQ(Tokens("q\xED\xA0\xA7"), "q\xED\xA0 ");
  // High bytes are not case-folded.
  EXPECT_EQ(Tokens("\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89 ");
}

TEST(Tokenizer, ConsumesTheCallersBuffer) {
  char text[] = "Hello World";
  char out[sizeof text + 2];
  BuildTokenString(text, out);
  EXPECT_STREQ(out, "hello world ");
  EXPECT_STREQ(text, "hello");  // lower-cased and cut after the first token
  EXPECT_STREQ(text + 6, "world");
}

TEST(Tokenizer, TextEndsAtItsFirstNul) {
  EXPECT_EQ(Tokens(std::string("stop\0two", 8)), "stop ");
}

TEST(Tokenizer, FastFormAgreesWithPlainFormOnRandomText) {
  // Pieces chosen to hit the tricky bytes: delimiters, UTF-8 characters whole
  // and broken, A7/B4 alone, upper case, words the stemmer changes.
  const std::vector<std::string> pieces = {"a",
                                           "B",
                                           "run",
                                           "Running",
                                           "ies",
                                           "ponies",
                                           " ",
                                           "\t",
                                           "\n",
                                           "-",
                                           "{",
                                           "}",
                                           "^",
                                           "_",
                                           "\xC2\xA7",
                                           "\xC2\xB4",
                                           "\xA7",
                                           "\xB4",
                                           "\xC3\xA7",
                                           "\xC3\xB4",
                                           "\xC2",
                                           "\xE3",
                                           "\xE3\x81",
                                           "\xF0\x9F\x98\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xC0",
                                           "\xFF",
                                           "\x80",
                                           "9",
                                           "0x1f",
                                           "\x01",
                                           "Z"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) text += pieces[rng() % pieces.size()];
    const std::string fast = Tokens(text);
    ASSERT_EQ(fast, PlainTokens(text)) << "text: " << ::testing::PrintToString(text);
    ASSERT_EQ(fast, OracleTokens(text)) << "text: " << ::testing::PrintToString(text);
  }
}

TEST(Tokenizer, HugeInputsStayCorrect) {
  // One 10 MB word: stemmed as a whole, never cached.
  std::string word(10u << 20, 'x');
  word += "ing";
  EXPECT_EQ(Tokens(word), OracleTokens(word));

  // More distinct words than the stem cache keeps: the overflow path must
  // still give every stem once, and later calls must stay right.
  std::string text;
  for (int i = 0; i < 400000; ++i)
    text += "w" + std::to_string(static_cast<long>(i) * 7919) + "ing ";
  text += "Running w0ing";
  const std::string fast = Tokens(text);
  EXPECT_EQ(fast, OracleTokens(text));
  EXPECT_EQ(Tokens("runs w7919ing zz"), OracleTokens("runs w7919ing zz"));
}

TEST(TokenList, SplitsOnRunsOfBlanks) {
  TokenList list;
  int count = -1;
  EXPECT_EQ(SplitTokenString("a  b", list, count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(list, (TokenList{"a", "b"}));

  EXPECT_EQ(SplitTokenString("   ", list, count), 1);
  EXPECT_EQ(count, 0);

  TokenList untouched{"keep"};
  count = 5;
  EXPECT_EQ(SplitTokenString("", untouched, count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(SplitTokenString(nullptr, untouched, count), 0);
  EXPECT_EQ(untouched, TokenList{"keep"});
}

TEST(TokenList, FreeDoesNothingForAnEmptyCount) {
  TokenList list{"x"};
  int count = 0;
  FreeTokenList(list, count);
  EXPECT_EQ(list.size(), 1u);
  count = 1;
  FreeTokenList(list, count);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(count, 0);
}

TEST(TokenList, SortIsByUnsignedBytesAndStable) {
  TokenList list{"\xC3\xA9", "b", "a", "ab", "}", "^", "1", "b"};
  SortTokenList(list, static_cast<int>(list.size()));
  EXPECT_EQ(list, (TokenList{"1", "^", "a", "ab", "b", "b", "}", "\xC3\xA9"}));
  TokenList partial{"c", "b", "a"};
  SortTokenList(partial, 2);
  EXPECT_EQ(partial, (TokenList{"b", "c", "a"}));
}

}  // namespace
}  // namespace varnox
