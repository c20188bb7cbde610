#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "analysis/tokenizer.h"
#include "platform/stemmer.h"
#include "reference/tokenizer_plain.h"

namespace varnox {
namespace {

std::string PlainTokens(std::string text) {
  std::string out(text.size() + 2, '\0');
  BuildTokenStringPlain(text.data(), out.data());
  return out.c_str();
}

// Independent of the tokenizer's bookkeeping, for inputs too large for the
// step-by-step form: classify, stem every word on its own, collect in a set.
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

TEST(Tokenizer, TokenStringsOfTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \t\r\n!$%&/()=?`{[]\\@*+~'#><|;,:._-\"", ""},  // delimiters only
      {"\xC2\xA7\xC2\xB4\xA7\xB4", ""},
      // Case is folded before repeats go.
      {"Hello, hello HELLO", "hello "},
      {"win a free prize, WIN now!", "a free now prize win "},
      // Splits at punctuation, not at every byte.
      {"e-mail 12:30 P.M.", "12 30 e m mail p "},
      {"{x}", "x} "},
      {"^_^", "^ "},
      {"a\177b", "a\177b "},
      // Every word stemmed.
      {"Running runs RUN ponies caresses", "caress poni run "},
      // Ordered by unsigned bytes, prefixes first.
      {"zed winner \xC3\xA9t\xC3\xA9 win } ^ 9", "9 ^ win winner zed } \xC3\xA9t\xC3\xA9 "},
      // Section sign and acute accent split as UTF-8 characters and as lone
      // Latin-1 bytes, but not inside other characters (ç, ô).
      {"a\302\247b\302\264c\247d\264e", "a b c d e "},
      {"gar\xC3\xA7on c\xC3\xB4te", "c\xC3\xB4te gar\xC3\xA7on "},
      // A broken sequence leaves a lone lead byte (a token byte) and a lone A7;
      // overlong and surrogate forms are not characters either.
      {"y\xE3\xA7x", "x y\xE3 "},
      {"a\300\247b", "a\xC0 b "},
      {"q\xED\xA0\xA7", "q\xED\xA0 "},
      {"\xC3\x89T\xC3\x89", "\xC3\x89t\xC3\x89 "},  // high bytes are not folded
      {std::string("stop\0two", 8), "stop "},       // the text ends at its first NUL
  };
  for (const auto& [text, tokens] : cases) EXPECT_EQ(BuildTokenString(text), tokens) << text;
}

TEST(Tokenizer, FastFormAgreesWithPlainFormOnRandomText) {
  // Pieces chosen to hit the tricky bytes: delimiters, UTF-8 characters whole
  // and broken, A7/B4 alone, upper case, words the stemmer changes.
  std::vector<std::string> pieces;
  const std::string_view kPieces =
      "a|B|run|Running|ies|ponies| |\t|\n|-|{|}|^|_|\xC2\xA7|\xC2\xB4|\xA7|\xB4|\xC3\xA7|\xC3\xB4|"
      "\xC2|\xE3|\xE3\x81|\xF0\x9F\x98\x80|\xF4\x90\x80\x80|\xC0|\xFF|\x80|9|0x1f|\x01|Z";
  for (std::size_t from = 0, bar; from <= kPieces.size(); from = bar + 1) {
    bar = std::min(kPieces.find('|', from), kPieces.size());
    pieces.emplace_back(kPieces.substr(from, bar - from));
  }
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) text += pieces[rng() % pieces.size()];
    ASSERT_EQ(BuildTokenString(text), PlainTokens(text)) << ::testing::PrintToString(text);
  }
}

TEST(Tokenizer, HugeInputsStayCorrect) {
  // One 10 MB word: stemmed as a whole, never cached.
  std::string word(10u << 20, 'x');
  word += "ing";
  EXPECT_EQ(BuildTokenString(word), OracleTokens(word));

  // More distinct words than the stem cache keeps: the overflow path must
  // still give every stem once, and later calls must stay right.
  std::string text;
  for (int i = 0; i < 400000; ++i)
    text += "w" + std::to_string(static_cast<long>(i) * 7919) + "ing ";
  text += "Running w0ing";
  EXPECT_EQ(BuildTokenString(text), OracleTokens(text));
  EXPECT_EQ(BuildTokenString("runs w7919ing zz"), OracleTokens("runs w7919ing zz"));
}

// Stored token strings may come from another program, with runs of blanks.
// FreeTokenList serves only the step-by-step form, which the comparisons pin.
TEST(TokenList, SplitsOnRunsOfBlanks) {
  TokenList list{"keep"};
  int count = 5;
  EXPECT_EQ(SplitTokenString("", list, count) * 10 + count, 0);
  EXPECT_EQ(SplitTokenString(nullptr, list, count), 0);
  EXPECT_EQ(list, TokenList{"keep"});
  EXPECT_EQ(SplitTokenString("a  b", list, count) * 10 + count, 12);
  EXPECT_EQ(list, (TokenList{"a", "b"}));
  EXPECT_EQ(SplitTokenString("   ", list, count) * 10 + count, 10);
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
