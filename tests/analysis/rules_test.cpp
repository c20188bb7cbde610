#include <gtest/gtest.h>

#include <future>
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

// The verdict of a table of rules on a probe, the same from both matchers:
// "-" for none, else the rule's id, "s" for a sender rule, then hits and
// both similarities.
std::string Verdict(std::vector<RuleEntry> rules, const RuleEntry& probe) {
  const auto table = std::make_unique<RuleTable>();
  for (auto& r : rules) AppendRule(*table, std::move(r));
  RuleMatch fast, plain;
  const int a = CheckRules(*table, probe, &fast);
  EXPECT_EQ(a, CheckRulesPlain(*table, probe, &plain));
  if (!a) return "-";
  EXPECT_EQ(fast.slot, plain.slot);
  EXPECT_EQ(fast.hits, plain.hits);
  EXPECT_EQ(fast.bySender, plain.bySender);
  char out[64];
  std::snprintf(out, sizeof out, "%d%s/%d/%g/%g", fast.id, fast.bySender ? "s" : "", fast.hits,
                fast.similarity1, fast.similarity2);
  return out;
}

TEST(CheckRules, VerdictsOfRuleTables) {
  TokenList thirty = Words(1, 10);                      // 9 tokens of the rule below ...
  for (auto& w : Words(100, 121)) thirty.push_back(w);  // ... and 21 others
  RuleEntry senderWithTokens = SenderRule("nobody-matches-this");
  senderWithTokens.tokens = Words(0, 3);
  senderWithTokens.tokenCount = 3;
  RuleEntry messageWithSender = MessageRule(Words(50, 60), 90.0f);
  CopyFixedText(messageWithSender.sender, "x");
  const std::vector<RuleEntry> odd{MessageRule({"d", "c", "b", "a"}, 50.0f, 1),
                                   MessageRule({"x", "x", "y"}, 100.0f, 2),
                                   MessageRule({"Mail", "SPAM"}, 100.0f, 3)};
  const struct {
    std::vector<RuleEntry> rules;
    RuleEntry probe;
    std::string verdict;
  } cases[] = {
      // Similarities are computed in single precision, so 53 of the
      // message's 100 tokens in a rule miss a certainty of 53; a similarity
      // equal to the certainty matches.
      {{MessageRule(Words(47, 1047), 53.0f), MessageRule(Words(47, 1047), 52.0f, 2)},
       Probe(Words(0, 100)),
       "2/53/53/5.3"},
      // Short rules match long messages and long rules short ones.
      {{MessageRule(Words(0, 10), 90.0f)}, Probe(thirty), "1/9/30/90"},
      {{MessageRule(Words(0, 10), 90.0f)}, Probe(Words(0, 9)), "1/9/100/90"},
      {{MessageRule(Words(0, 10), 90.0f)}, Probe(Words(2, 10)), "1/8/100/80"},
      {{MessageRule(Words(0, 10), 90.0f)}, Probe(Words(5, 50)), "-"},
      // Empty token lists never match; certainty 0 matches any token.
      {{MessageRule(Words(0, 5), 0.0f), MessageRule({}, 0.0f)}, Probe({}), "-"},
      {{MessageRule(Words(0, 5), 0.0f), MessageRule({}, 0.0f)}, Probe({"zzz"}), "1/0/0/0"},
      {{MessageRule(Words(0, 5), 100.5f)}, Probe(Words(0, 5)), "-"},
      // Sender rules match by case-insensitive containment.
      {{SenderRule("promo")}, Probe({}, "PROMO"), "1s/0/0/0"},
      {{SenderRule("promo")}, Probe({}, "My-Promo-List"), "1s/0/0/0"},
      {{SenderRule("promo")}, Probe({}, "pro-mo"), "-"},
      {{SenderRule("+4912")}, Probe({}, "004912"), "-"},
      {{SenderRule("+4912")}, Probe({}, "+491234"), "1s/0/0/0"},
      {{SenderRule("")}, Probe({}, ""), "1s/0/0/0"},
      // Sender rules come first; neither kind looks at the other's field.
      {{MessageRule(Words(0, 3), 50.0f, 7), SenderRule("spam", 8)},
       Probe(Words(0, 3), "spammer@x"),
       "8s/0/0/0"},
      {{senderWithTokens}, Probe(Words(0, 3)), "-"},
      {{messageWithSender}, Probe(Words(0, 3), "x@x"), "-"},
      // Lists another program may have written: unsorted, repeated, upper
      // case. HasToken's binary search misses "a" in the first; the index
      // must too.
      {odd, Probe({"a", "q", "r", "s"}), "-"},
      {odd, Probe({"x", "y"}), "2/2/100/66.6667"},
      {odd, Probe({"mail", "spam"}), "3/2/100/100"},
      {odd, Probe({"MAIL", "Spam"}), "3/2/100/100"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Verdict(c.rules, c.probe), c.verdict) << c.verdict;
  }
  EXPECT_FALSE(IsSimilarMessage(Probe(Words(0, 3)), MessageRule({}, 0.0f)));
}

// While the table is empty every check asks the loader, which runs with
// the lock held; once it filled the table, the rules are kept.
TEST(RuleTableLoading, EmptyTableAsksItsLoaderEveryTime) {
  RuleTable table;
  int calls = 0;
  table.loader = [&](RuleTable& t) {
    // Asked from another thread: try_lock by the holder itself is undefined.
    EXPECT_FALSE(std::async(std::launch::async, [&] {
                   const bool free = t.lock.try_lock();
                   if (free) t.lock.unlock();
                   return free;
                 }).get());
    if (++calls == 3) AppendRule(t, MessageRule(Words(0, 3), 90.0f));
  };
  std::string verdicts;
  for (int i = 0; i < 4; ++i) verdicts += std::to_string(CheckRules(table, Probe(Words(0, 3))));
  EXPECT_EQ(verdicts + " " + std::to_string(calls), "0011 3");
}

}  // namespace
}  // namespace varnox
