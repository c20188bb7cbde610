#include "analysis/rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/rule_index.h"
#include "platform/ascii_text.h"
#include "platform/trace.h"

namespace varnox {
namespace {

// A fixed sender field as text, even if it lacks its terminator.
std::string LowerSender(const char (&s)[256]) {
  return LowerAsciiCopy(std::string_view(s, strnlen(s, sizeof s)));
}

// Compares with ASCII case folded, bytes unsigned.
int CompareFolded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = FoldAscii(static_cast<unsigned char>(*a));
    const unsigned char y = FoldAscii(static_cast<unsigned char>(*b));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

void TraceSimilarity(int hits, int probeTokens, float s1, float s2, float certainty) {
  if (!TraceEnabled()) return;
  char line[160];
  std::snprintf(
      line, sizeof line,
      "Hits = %d, Tokens = %d, fSimilarity1= %3.2f, fSimilarity2= %3.2f, Certainty = %6.3f", hits,
      probeTokens, static_cast<double>(s1), static_cast<double>(s2),
      static_cast<double>(certainty));
  Trace(line);
}

// The sender pass: the first sender rule whose lower-cased sender occurs in
// the probe's lower-cased sender.
template <typename LowerSenderOf>
int SenderPass(const RuleTable& table, const RuleEntry& probe, LowerSenderOf lowerSenderOf,
               RuleMatch* match) {
  const std::string sender = LowerSender(probe.sender);
  for (int r = 0; r < table.count; ++r) {
    const RuleEntry& e = table.entries[r];
    if (e.filterBySender == 0) continue;
    if (sender.find(lowerSenderOf(r)) != std::string::npos) {
      if (match != nullptr) {
        *match = RuleMatch{};
        match->slot = r;
        match->id = e.id;
        match->bySender = true;
        match->certainty = e.certainty;
      }
      return 1;
    }
  }
  return 0;
}

// Fills the table through its loader when it is empty. Lock held.
bool EnsureLoaded(RuleTable& table) {
  if (table.count == 0 && table.loader) {
    table.loader(table);
    table.MarkChanged();
  }
  return table.count > 0;
}

void FillMatch(RuleMatch* match, int slot, const RuleEntry& rule, int hits, int probeTokens,
               float s1, float s2) {
  if (match == nullptr) return;
  *match = RuleMatch{};
  match->slot = slot;
  match->id = rule.id;
  match->hits = hits;
  match->probeTokens = probeTokens;
  match->ruleTokens = rule.tokenCount;
  match->similarity1 = s1;
  match->similarity2 = s2;
  match->certainty = rule.certainty;
}

}  // namespace

RuleTable::RuleTable() = default;
RuleTable::~RuleTable() = default;

RuleTable& GlobalRuleTable() {
  static RuleTable table;
  return table;
}

void ClearRuleTable(RuleTable& table) {
  for (int i = 0; i < table.count; ++i) table.entries[i] = RuleEntry{};
  table.count = 0;
  table.MarkChanged();
}

bool AppendRule(RuleTable& table, RuleEntry&& rule) {
  if (table.count >= kMaxRules) return false;
  table.entries[table.count++] = std::move(rule);
  table.MarkChanged();
  return true;
}

void ComputeSimilarities(int hits, int probeTokens, int ruleTokens, float& similarity1,
                         float& similarity2) {
  // Single precision on purpose: stored certainties were tuned against it
  // (53 hits of 100 tokens give 52.999996, below a certainty of 53).
  const float q1 = static_cast<float>(hits) / static_cast<float>(probeTokens);
  const float q2 = static_cast<float>(hits) / static_cast<float>(ruleTokens);
  similarity1 = q1 * 100.0f;
  similarity2 = q2 * 100.0f;
}

bool SimilarEnough(float similarity1, float similarity2, float certainty) {
  if (similarity1 >= certainty) return true;
  return similarity2 >= certainty;
}

bool HasToken(const char* token, const RuleEntry& rule) {
  try {
    int low = 0;
    int high = std::min<int>(rule.tokenCount, static_cast<int>(rule.tokens.size())) - 1;
    while (low <= high) {
      const int middle = low + (high - low) / 2;
      const int c = CompareFolded(token, rule.tokens[middle].c_str());
      if (c == 0) return true;
      if (c < 0)
        high = middle - 1;
      else
        low = middle + 1;
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool IsSimilarMessage(const RuleEntry& probe, const RuleEntry& rule, RuleMatch* detail) {
  try {
    Trace("In IsSimilarMessage");
    if (probe.tokenCount <= 0 || rule.tokenCount <= 0) {
      Trace("In IsSimilarMessage Exit");
      return false;
    }
    int hits = 0;
    const int n = std::min<int>(probe.tokenCount, static_cast<int>(probe.tokens.size()));
    for (int t = 0; t < n; ++t) hits += HasToken(probe.tokens[t].c_str(), rule) ? 1 : 0;
    float s1, s2;
    ComputeSimilarities(hits, probe.tokenCount, rule.tokenCount, s1, s2);
    TraceSimilarity(hits, probe.tokenCount, s1, s2, rule.certainty);
    if (detail != nullptr) FillMatch(detail, -1, rule, hits, probe.tokenCount, s1, s2);
    return SimilarEnough(s1, s2, rule.certainty);
  } catch (...) {
    Trace("In IsSimilarMessage General Error");
    return false;
  }
}

namespace {

// The check proper, on a loaded and indexed table (lock held, shared or not).
int CheckIndexed(const RuleTable& table, const RuleEntry& probe, RuleMatch* match) {
  const RuleIndex& index = *table.index;
  if (SenderPass(
          table, probe, [&](int r) -> const std::string& { return index.LowerSender(r); }, match))
    return 1;
  if (probe.tokenCount <= 0) return 0;
  int hits[kMaxRules];
  index.CountHits(table, probe, hits);
  for (int r = 0; r < table.count; ++r) {
    const RuleEntry& e = table.entries[r];
    if (e.filterBySender != 0 || e.tokenCount <= 0) continue;
    float s1, s2;
    ComputeSimilarities(hits[r], probe.tokenCount, e.tokenCount, s1, s2);
    TraceSimilarity(hits[r], probe.tokenCount, s1, s2, e.certainty);
    if (SimilarEnough(s1, s2, e.certainty)) {
      FillMatch(match, r, e, hits[r], probe.tokenCount, s1, s2);
      return 1;
    }
  }
  return 0;
}

bool Ready(const RuleTable& table) {
  return table.count > 0 && !table.indexStale && table.index;
}

}  // namespace

int CheckRules(RuleTable& table, const RuleEntry& probe, RuleMatch* match) {
  try {
    {
      std::shared_lock<std::shared_mutex> shared(table.lock);
      if (Ready(table)) return CheckIndexed(table, probe, match);
    }
    std::lock_guard<std::shared_mutex> guard(table.lock);
    if (!EnsureLoaded(table)) return 0;
    if (table.indexStale || !table.index) {
      auto index = std::make_unique<RuleIndex>();
      index->Build(table);
      table.index = std::move(index);
      table.indexStale = false;
    }
    return CheckIndexed(table, probe, match);
  } catch (...) {
    return 0;
  }
}

int CheckRules(const RuleEntry& probe) {
  return CheckRules(GlobalRuleTable(), probe);
}

}  // namespace varnox
