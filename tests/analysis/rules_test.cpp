#include <gtest/gtest.h>

#include <memory>

#include "analysis/fixed_text.h"
#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "reference/rules_plain.h"

namespace varnox {
namespace {

TokenList Words(int from, int to) {  // distinct, sorted: w0000 ... w(to-1)
  TokenList list;
  char buf[16];
  for (int i = from; i < to; ++i) {
    std::snprintf(buf, sizeof buf, "w%04d", i);
    list.push_back(buf);
  }
  return list;
}

RuleEntry MessageRule(TokenList tokens, float certainty, int id = 1) {
  RuleEntry r;
  r.tokenCount = static_cast<int>(tokens.size());
  r.tokens = std::move(tokens);
  r.certainty = certainty;
  r.id = id;
  return r;
}

RuleEntry SenderRule(const char* sender, int id = 1) {
  RuleEntry r;
  CopyFixedText(r.sender, sender);
  r.filterBySender = 1;
  r.id = id;
  return r;
}

RuleEntry Probe(TokenList tokens, const char* sender = "someone@example.org") {
  RuleEntry p;
  CopyFixedText(p.sender, sender);
  p.tokenCount = static_cast<int>(tokens.size());
  p.tokens = std::move(tokens);
  return p;
}

std::unique_ptr<RuleTable> Table(std::vector<RuleEntry> rules) {
  auto t = std::make_unique<RuleTable>();
  for (auto& r : rules) AppendRule(*t, std::move(r));
  return t;
}

// Both matchers must agree on verdict and on the rule they name.
int CheckBoth(RuleTable& table, const RuleEntry& probe, RuleMatch* match = nullptr) {
  RuleMatch fast, plain;
  const int a = CheckRules(table, probe, &fast);
  const int b = CheckRulesPlain(table, probe, &plain);
  EXPECT_EQ(a, b);
  if (a && b) {
    EXPECT_EQ(fast.slot, plain.slot);
    EXPECT_EQ(fast.hits, plain.hits);
    EXPECT_EQ(fast.bySender, plain.bySender);
  }
  if (match) *match = fast;
  return a;
}

TEST(Similarity, IsComputedInSinglePrecision) {
  float s1, s2;
  ComputeSimilarities(9, 10, 30, s1, s2);
  EXPECT_EQ(s1, 90.0f);
  EXPECT_TRUE(SimilarEnough(0, 90.0f, 90.0f));  // equality counts
  ComputeSimilarities(53, 100, 1000, s1, s2);
  EXPECT_EQ(s1, 52.999996f);
  // So 53 of the message's 100 tokens in a rule miss a certainty of 53.
  auto table = Table({MessageRule(Words(47, 1047), 53.0f), MessageRule(Words(47, 1047), 52.0f, 2)});
  RuleMatch m;
  EXPECT_EQ(CheckBoth(*table, Probe(Words(0, 100)), &m), 1);
  EXPECT_EQ(m.id, 2);
}

TEST(Similarity, ShortRulesMatchLongMessagesAndViceVersa) {
  auto table = Table({MessageRule(Words(0, 10), 90.0f)});
  TokenList thirty = Words(1, 10);                      // 9 rule tokens ...
  for (auto& w : Words(100, 121)) thirty.push_back(w);  // ... and 21 others
  RuleMatch m;
  EXPECT_EQ(CheckBoth(*table, Probe(thirty), &m), 1);
  EXPECT_EQ(m.hits, 9);
  EXPECT_EQ(m.similarity2, 90.0f);
  EXPECT_EQ(CheckBoth(*table, Probe(Words(0, 9)), &m), 1);
  EXPECT_EQ(m.similarity1, 100.0f);
  EXPECT_EQ(CheckBoth(*table, Probe(Words(2, 10)), &m), 1);  // 8 of 10 but all of the message
  EXPECT_EQ(CheckBoth(*table, Probe(Words(5, 50))), 0);
}

TEST(Similarity, EmptyTokenListsNeverMatch) {
  auto table = Table({MessageRule(Words(0, 5), 0.0f), MessageRule({}, 0.0f)});
  EXPECT_EQ(CheckBoth(*table, Probe({})), 0);
  EXPECT_FALSE(IsSimilarMessage(Probe(Words(0, 3)), MessageRule({}, 0.0f)));
  // Certainty 0 matches any message with a token, even without hits.
  EXPECT_EQ(CheckBoth(*table, Probe({"zzz"})), 1);
  auto unreachable = Table({MessageRule(Words(0, 5), 100.5f)});
  EXPECT_EQ(CheckBoth(*unreachable, Probe(Words(0, 5))), 0);
}

TEST(SenderRules, MatchByCaseInsensitiveContainment) {
  auto table = Table({SenderRule("promo")});
  EXPECT_EQ(CheckBoth(*table, Probe({}, "PROMO")), 1);
  EXPECT_EQ(CheckBoth(*table, Probe({}, "My-Promo-List")), 1);
  EXPECT_EQ(CheckBoth(*table, Probe({}, "pro-mo")), 0);
  auto phone = Table({SenderRule("+4912")});
  EXPECT_EQ(CheckBoth(*phone, Probe({}, "004912")), 0);
  EXPECT_EQ(CheckBoth(*phone, Probe({}, "+491234")), 1);
  auto empty = Table({SenderRule("")});
  EXPECT_EQ(CheckBoth(*empty, Probe({}, "")), 1);
}

TEST(SenderRules, ComeBeforeMessageRulesAndNeverMatchByContent) {
  auto table = Table({MessageRule(Words(0, 3), 50.0f, 7), SenderRule("spam", 8)});
  RuleMatch m;
  EXPECT_EQ(CheckBoth(*table, Probe(Words(0, 3), "spammer@x"), &m), 1);
  EXPECT_TRUE(m.bySender);
  EXPECT_EQ(m.id, 8);
  EXPECT_EQ(m.slot, 1);
  // A sender rule's tokens are never compared.
  RuleEntry s = SenderRule("nobody-matches-this");
  s.tokens = Words(0, 3);
  s.tokenCount = 3;
  auto only = Table({std::move(s)});
  EXPECT_EQ(CheckBoth(*only, Probe(Words(0, 3))), 0);
  // A message rule's sender is never compared.
  RuleEntry msg = MessageRule(Words(50, 60), 90.0f);
  CopyFixedText(msg.sender, "x");
  auto other = Table({std::move(msg)});
  EXPECT_EQ(CheckBoth(*other, Probe(Words(0, 3), "x@x")), 0);
}

TEST(HasTokenSearch, FoldsCaseAndSearchesTheSortedList) {
  RuleEntry r = MessageRule({"alpha", "beta", "gamma"}, 90.0f);
  EXPECT_TRUE(HasToken("beta", r));
  EXPECT_TRUE(HasToken("GAMMA", r));
  EXPECT_FALSE(HasToken("delta", r));
  r.tokenCount = 2;  // only the counted entries are searched
  EXPECT_FALSE(HasToken("gamma", r));
}

TEST(RuleIndex, AgreesWithThePlainSearchOnOddStoredLists) {
  // Lists another program may have written: unsorted, repeated, upper case.
  // The binary search misses "a" in the first; the index must miss it too.
  auto table =
      Table({MessageRule({"d", "c", "b", "a"}, 50.0f, 1), MessageRule({"x", "x", "y"}, 100.0f, 2),
             MessageRule({"Mail", "SPAM"}, 100.0f, 3)});
  RuleMatch m;
  EXPECT_EQ(CheckBoth(*table, Probe({"a", "q", "r", "s"})), 0);
  EXPECT_EQ(CheckBoth(*table, Probe({"x", "y"}), &m), 1);
  EXPECT_EQ(m.id, 2);
  EXPECT_EQ(CheckBoth(*table, Probe({"mail", "spam"}), &m), 1);
  EXPECT_EQ(m.id, 3);
  EXPECT_EQ(CheckBoth(*table, Probe({"MAIL", "Spam"}), &m), 1);
}

TEST(RuleTableLoading, EmptyTableAsksItsLoaderEveryTime) {
  RuleTable table;
  int calls = 0;
  table.loader = [&](RuleTable&) { ++calls; };
  EXPECT_EQ(CheckRules(table, Probe(Words(0, 3))), 0);
  EXPECT_EQ(CheckRules(table, Probe(Words(0, 3))), 0);
  EXPECT_EQ(calls, 2);

  // The loader runs with the lock held and fills the table; no deadlock.
  table.loader = [&](RuleTable& t) {
    ++calls;
    EXPECT_FALSE(t.lock.try_lock());
    AppendRule(t, MessageRule(Words(0, 3), 90.0f));
  };
  EXPECT_EQ(CheckRules(table, Probe(Words(0, 3))), 1);
  EXPECT_EQ(CheckRules(table, Probe(Words(0, 3))), 1);
  EXPECT_EQ(calls, 3);  // loaded once, then kept
}

}  // namespace
}  // namespace varnox
