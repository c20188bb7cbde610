// The rule check against 512 message rules, indexed and plain, on the same
// messages: rates side by side and whether every verdict agrees.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "bench_corpus.h"
#include "reference/rules_plain.h"

namespace varnox::bench {
namespace {

constexpr int kRuleTokens = 100;

// Real stems from the corpus when it is there, made-up words otherwise.
std::vector<std::string> Vocabulary() {
  std::set<std::string> words;
  for (const auto& t : CorpusTexts()) {
    TokenList list;
    int n = 0;
    SplitTokenString(BuildTokenString(t).c_str(), list, n);
    words.insert(list.begin(), list.end());
    if (words.size() > 60000) break;
  }
  for (int i = 0; words.size() < 60000; ++i) words.insert("w" + std::to_string(i));
  return {words.begin(), words.end()};
}

TokenList Sorted(std::set<std::string> s) {
  return {s.begin(), s.end()};
}

struct Workload {
  std::unique_ptr<RuleTable> table = std::make_unique<RuleTable>();
  std::vector<RuleEntry> messages;
};

Workload MakeWorkload(const std::vector<std::string>& vocab, int messageTokens, int count) {
  std::mt19937 rng(42);
  Workload w;
  const float certainties[] = {53, 53, 60, 75, 90};
  for (int r = 0; r < kMaxRules; ++r) {
    std::set<std::string> s;
    while (static_cast<int>(s.size()) < kRuleTokens) s.insert(vocab[rng() % vocab.size()]);
    RuleEntry e;
    e.id = r + 1;
    e.certainty = certainties[r % 5];
    e.tokens = Sorted(std::move(s));
    e.tokenCount = kRuleTokens;
    AppendRule(*w.table, std::move(e));
  }
  for (int m = 0; m < count; ++m) {
    std::set<std::string> s;
    const int kind = m % 4;
    if (kind != 0) {
      // Take a number of one rule's tokens: 53 of 100 for a certainty-53 rule
      // lies just below it (52.999996), 54 just above; others well above.
      const int r = (rng() % (kMaxRules / 5)) * 5;  // certainty 53
      const RuleEntry& e = w.table->entries[kind == 3 ? r + 4 : r];
      const int take = kind == 1 ? 53 : kind == 2 ? 54 : 95;
      std::vector<std::string> pick(e.tokens.begin(), e.tokens.end());
      std::shuffle(pick.begin(), pick.end(), rng);
      s.insert(pick.begin(), pick.begin() + take);
    }
    while (static_cast<int>(s.size()) < messageTokens) s.insert(vocab[rng() % vocab.size()]);
    RuleEntry probe;
    std::snprintf(probe.sender, sizeof probe.sender, "sender%d@example.org", m);
    probe.tokens = Sorted(std::move(s));
    probe.tokenCount = messageTokens;
    w.messages.push_back(std::move(probe));
  }
  return w;
}

// Messages per second of check over the messages, run for at least minSeconds.
template <typename Check>
double Rate(const Workload& w, Check check, double minSeconds, std::vector<int>& verdicts) {
  using Clock = std::chrono::steady_clock;
  verdicts.assign(w.messages.size(), -1);
  std::size_t done = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (std::size_t i = 0; i < w.messages.size(); ++i) {
      verdicts[i] = check(*w.table, w.messages[i]);
      ++done;
      if (done % 16 == 0) {
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= minSeconds && done >= w.messages.size()) break;
      }
    }
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < minSeconds);
  return static_cast<double>(done) / elapsed;
}

}  // namespace

bool RunRuleComparison() {
  const auto vocab = Vocabulary();
  std::printf("\nCheckRules against %d message rules of %d tokens (vocabulary %zu stems)\n",
              kMaxRules, kRuleTokens, vocab.size());
  std::printf("%-15s %9s %6s %16s %14s %8s %10s\n", "message tokens", "messages", "spam",
              "indexed msgs/s", "plain msgs/s", "ratio", "verdicts");
  bool allSame = true;
  for (const int size : {300, 2000}) {
    const Workload w = MakeWorkload(vocab, size, size == 300 ? 2000 : 400);
    std::vector<int> fast, plain;
    auto indexed = [](RuleTable& t, const RuleEntry& p) { return CheckRules(t, p); };
    auto reference = [](RuleTable& t, const RuleEntry& p) { return CheckRulesPlain(t, p); };
    const double fastRate = Rate(w, indexed, 1.0, fast);
    const double plainRate = Rate(w, reference, 2.0, plain);
    const bool same = fast == plain;
    allSame = allSame && same;
    const long spam = std::count(fast.begin(), fast.end(), 1);
    std::printf("%-15d %9zu %6ld %16.0f %14.0f %7.0fx %10s\n", size, w.messages.size(), spam,
                fastRate, plainRate, fastRate / plainRate, same ? "identical" : "DIFFER");
  }
  return allSame;
}

}  // namespace varnox::bench
