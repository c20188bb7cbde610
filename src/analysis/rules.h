// Rules in memory and the check of a message against them.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "analysis/tokenizer.h"

namespace varnox {

constexpr int kMaxRules = 512;

// One rule. A message under test (the probe) has the same shape; only its
// sender, tokens and token count are read.
struct RuleEntry {
  char sender[256] = {};
  std::string message;
  std::string response;
  TokenList tokens;  // sorted, distinct
  int tokenCount = 0;
  int id = 0;
  int useResponse = 0;
  int filterBySender = 0;  // non-zero: matches by sender only
  float certainty = 0.0f;  // percent

  bool operator==(const RuleEntry&) const = default;
};

class RuleIndex;

// The rule table. The loader refills it from the rule store; it is called
// with `lock` already held.
struct RuleTable {
  RuleTable();
  ~RuleTable();
  RuleTable(const RuleTable&) = delete;
  RuleTable& operator=(const RuleTable&) = delete;

  // guards: entries, count, the index and the rule store's connection; checks
  // share it, everything else holds it alone
  std::shared_mutex lock;
  std::array<RuleEntry, kMaxRules> entries;
  int count = 0;
  std::function<void(RuleTable&)> loader;
  // Whether a load has ever succeeded: until then the table says nothing
  // about the rules, and nothing may be classified by it.
  bool loaded = false;
  // Moves whenever the rules held change (a load with other rules, a
  // removal), so verdicts can be tied to the rules they were made under.
  unsigned generation = 0;

  // Lookup structure over the entries, rebuilt on the next check after a
  // change. Callers that edit entries directly must call MarkChanged().
  std::unique_ptr<RuleIndex> index;
  bool indexStale = true;
  void MarkChanged() { indexStale = true; }
};

// The table the program's threads share.
RuleTable& GlobalRuleTable();

// Empties the table (lock held by the caller).
void ClearRuleTable(RuleTable& table);
// Appends a rule (lock held by the caller); false when the table is full.
bool AppendRule(RuleTable& table, RuleEntry&& rule);

// What a check found: the first matching rule.
struct RuleMatch {
  int slot = -1;
  int id = 0;
  bool bySender = false;
  int hits = 0;  // message rules: probe tokens found in the rule
  int probeTokens = 0;
  int ruleTokens = 0;
  float similarity1 = 0;  // hits / probe tokens, percent
  float similarity2 = 0;  // hits / rule tokens, percent
  float certainty = 0;
};

// 1 when some rule matches the probe, else 0. Loads the table first when it
// is empty. Holds the table's lock for the whole check: shared, so checks
// run side by side, unless the table must be loaded or indexed first.
int CheckRules(RuleTable& table, const RuleEntry& probe, RuleMatch* match = nullptr);
int CheckRules(const RuleEntry& probe);  // on the global table

// Similarity of one probe and one rule, with the detail when asked.
bool IsSimilarMessage(const RuleEntry& probe, const RuleEntry& rule, RuleMatch* detail = nullptr);

// Whether token occurs in the rule's sorted token list (ASCII case folded).
bool HasToken(const char* token, const RuleEntry& rule);

// The two similarity percentages in single precision, and the verdict.
void ComputeSimilarities(int hits, int probeTokens, int ruleTokens, float& similarity1,
                         float& similarity2);
bool SimilarEnough(float similarity1, float similarity2, float certainty);

}  // namespace varnox
