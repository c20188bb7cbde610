// Every message of the public SpamAssassin corpus through the tokenizer and
// the rule check: what must hold for real mail, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "reference/rules_plain.h"
#include "reference/tokenizer_plain.h"
#include "support/corpus.h"

namespace varnox {
namespace {

class Corpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (files_->empty())
      GTEST_SKIP() << "corpus missing at " << testsupport::CorpusDir()
                   << " (the test script unpacks it)";
  }
  static std::string Text(const std::string& path) {
    std::string bytes = testsupport::ReadAll(path);
    bytes.resize(std::strlen(bytes.c_str()));
    return bytes;
  }
  // The text after the header block.
  static std::string Body(const std::string& text) {
    const auto blank = text.find("\n\n");
    return blank == std::string::npos ? text : text.substr(blank + 2);
  }
  // Listed once for the suite.
  const std::vector<std::string>* files_ = [] {
    static const std::vector<std::string> files = testsupport::CorpusFiles();
    return &files;
  }();
};

// Each message's token string is well formed, splits back into a sorted
// list and, for the smaller messages, equals the step-by-step form (which
// sorts by insertion). Its body, as a probe, gets the same verdict from the
// indexed and the plain rule check.
TEST_F(Corpus, TokenStringsAndVerdictsAgreeWithTheReference) {
  ASSERT_GT(files_->size(), 5000u);
  // Rules made from corpus messages: message rules from every 89th message at
  // certainties from 40 to 90 (53 among them), sender rules from a few
  // From lines' domains.
  auto table = std::make_unique<RuleTable>();
  const float certainties[] = {40, 53, 60, 75, 90, 53};
  int id = 1;
  for (std::size_t i = 0; i < files_->size() && table->count < 64; i += 89) {
    const std::string text = Text((*files_)[i]);
    RuleEntry r;
    r.id = id++;
    r.certainty = certainties[i % 6];
    SplitTokenString(BuildTokenString(Body(text)).c_str(), r.tokens, r.tokenCount);
    if (i % 5 == 0) {
      const auto at = text.find('@', text.find("\nFrom:"));
      if (at != std::string::npos) {
        std::string domain = text.substr(at + 1, text.find_first_of(">\r\n ", at) - at - 1);
        std::snprintf(r.sender, sizeof r.sender, "%s", domain.c_str());
        r.filterBySender = !domain.empty();
      }
    }
    AppendRule(*table, std::move(r));
  }
  ASSERT_EQ(table->count, 64);

  std::size_t plainCompared = 0;
  int spam = 0;
  for (const std::string& path : *files_) {
    const std::string text = Text(path);
    const std::string tokens = BuildTokenString(text);
    ASSERT_LE(tokens.size() + 1, text.size() + 2) << path;
    ASSERT_EQ(tokens.find("  "), std::string::npos) << path;
    ASSERT_TRUE(tokens.empty() || (tokens.front() != ' ' && tokens.back() == ' ')) << path;
    TokenList list;
    int count = 0;
    ASSERT_EQ(SplitTokenString(tokens.c_str(), list, count), tokens.empty() ? 0 : 1);
    std::string joined;
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        ASSERT_LT(list[i - 1], list[i]) << path << ": not sorted or repeated";
      }
      joined += list[i] + " ";
    }
    ASSERT_EQ(joined, tokens) << path;
    if (text.size() < 6000) {
      std::string scratch = text, out(text.size() + 2, '\0');
      BuildTokenStringPlain(scratch.data(), out.data());
      ASSERT_EQ(tokens, out.c_str()) << path;
      ++plainCompared;
    }

    RuleEntry probe;
    const auto from = text.find("\nFrom:");
    if (from != std::string::npos)
      std::snprintf(probe.sender, sizeof probe.sender, "%s",
                    text.substr(from + 6, text.find('\n', from + 1) - from - 6).c_str());
    SplitTokenString(BuildTokenString(Body(text)).c_str(), probe.tokens, probe.tokenCount);
    RuleMatch fast, plain;
    const int a = CheckRules(*table, probe, &fast);
    ASSERT_EQ(a, CheckRulesPlain(*table, probe, &plain)) << path;
    if (a) {
      ASSERT_EQ(std::pair(fast.slot, fast.hits), std::pair(plain.slot, plain.hits)) << path;
    }
    spam += a;
  }
  EXPECT_GT(plainCompared, 1000u);
  // Both verdicts occur often enough for the comparison to mean something.
  EXPECT_GT(spam, 100);
  EXPECT_LT(spam, static_cast<int>(files_->size()) - 100);
}

}  // namespace
}  // namespace varnox
