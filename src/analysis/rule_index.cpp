#include "analysis/rule_index.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/hash.h"
#include "platform/ascii_text.h"

namespace varnox {
namespace {

bool HasUpper(const std::string& s) {
  for (char c : s)
    if (c >= 'A' && c <= 'Z') return true;
  return false;
}

int TokensOf(const RuleEntry& e) {
  return std::max(0, std::min<int>(e.tokenCount, static_cast<int>(e.tokens.size())));
}

}  // namespace

const RuleIndex::Slot* RuleIndex::Find(const char* key, std::size_t len, std::uint64_t hash) const {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (s.keyLength == 0) return nullptr;
    if (s.tag == tag && s.keyLength == len && std::memcmp(&keys_[s.keyOffset], key, len) == 0)
      return &s;
  }
}

RuleIndex::Slot& RuleIndex::Insert(std::string_view key, std::uint64_t hash) {
  const std::size_t mask = slots_.size() - 1;
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  std::size_t i = hash & mask;
  for (;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (s.keyLength == 0) break;
    if (s.tag == tag && s.keyLength == key.size() &&
        std::memcmp(&keys_[s.keyOffset], key.data(), key.size()) == 0)
      return s;
  }
  Slot& s = slots_[i];
  s.tag = tag;
  s.keyOffset = static_cast<std::uint32_t>(keys_.size());
  s.keyLength = static_cast<std::uint16_t>(key.size());
  keys_.insert(keys_.end(), key.begin(), key.end());
  return s;
}

void RuleIndex::Build(const RuleTable& table) {
  slots_.clear();
  keys_.clear();
  postings_.clear();
  unindexed_.clear();
  lowerSenders_.assign(kMaxRules, std::string());

  std::size_t total = 0;
  for (int r = 0; r < table.count; ++r) total += TokensOf(table.entries[r]);
  std::size_t capacity = 64;
  while (capacity < 2 * total) capacity *= 2;
  slots_.assign(capacity, Slot{});

  // Pass 1: keys and their posting counts; pass 2 fills the postings in slot order.
  std::vector<std::pair<Slot*, int>> pending;  // (key, rule slot), in rule order
  pending.reserve(total);
  for (int r = 0; r < table.count; ++r) {
    const RuleEntry& e = table.entries[r];
    if (e.filterBySender != 0) {
      lowerSenders_[r] = LowerAsciiCopy(std::string(e.sender, strnlen(e.sender, sizeof e.sender)));
      continue;
    }
    const int n = TokensOf(e);
    // Stored tokens are lower case already; only a rule written otherwise
    // needs folded copies.
    std::vector<std::string> folded;
    const bool upper = std::any_of(e.tokens.begin(), e.tokens.begin() + n, HasUpper);
    if (upper)
      for (int t = 0; t < n; ++t) folded.push_back(LowerAsciiCopy(e.tokens[t]));
    const auto key = [&](int t) -> std::string_view { return upper ? folded[t] : e.tokens[t]; };
    bool indexable = true;
    for (int t = 0; t < n && indexable; ++t) {
      if (t > 0 && !(key(t - 1) < key(t))) indexable = false;
      if (key(t).empty() || key(t).size() > UINT16_MAX) indexable = false;
    }
    if (!indexable) {
      unindexed_.push_back(r);
      continue;
    }
    for (int t = 0; t < n; ++t) {
      const std::string_view k = key(t);
      Slot& s = Insert(k, HashBytes(k.data(), k.size()));
      ++s.postingsCount;
      pending.emplace_back(&s, r);
    }
  }
  std::uint32_t offset = 0;
  for (Slot& s : slots_) {
    if (s.keyLength == 0) continue;
    s.postingsOffset = offset;
    offset += s.postingsCount;
    s.postingsCount = 0;
  }
  postings_.resize(offset);
  for (const auto& [slot, rule] : pending)
    postings_[slot->postingsOffset + slot->postingsCount++] = static_cast<std::uint16_t>(rule);
}

void RuleIndex::CountHits(const RuleTable& table, const RuleEntry& probe, int* hits) const {
  std::fill(hits, hits + kMaxRules, 0);
  const int n = TokensOf(probe);
  // The tokens are hashed first and their slots fetched a few tokens ahead
  // of the look-ups, so the look-ups do not wait for memory one by one.
  thread_local std::vector<std::uint64_t> hashes;
  hashes.resize(static_cast<std::size_t>(n));
  std::string folded;
  const auto key = [&](int t) -> const std::string& {
    const std::string& token = probe.tokens[t];
    if (!HasUpper(token)) return token;
    folded = LowerAsciiCopy(token);
    return folded;
  };
  for (int t = 0; t < n; ++t) {
    const std::string& k = key(t);
    hashes[t] = HashBytes(k.data(), k.size());
  }
  constexpr int kPrefetchDistance = 8;
  const std::size_t mask = slots_.empty() ? 0 : slots_.size() - 1;
  for (int t = 0; t < n; ++t) {
    if (t + kPrefetchDistance < n && !slots_.empty())
      __builtin_prefetch(&slots_[hashes[t + kPrefetchDistance] & mask]);
    const std::string& k = key(t);
    const Slot* s = Find(k.data(), k.size(), hashes[t]);
    if (s == nullptr) continue;
    const std::uint16_t* p = postings_.data() + s->postingsOffset;
    for (std::uint32_t j = 0; j < s->postingsCount; ++j) ++hits[p[j]];
  }
  for (int r : unindexed_) {
    if (r >= table.count) continue;
    int h = 0;
    for (int t = 0; t < n; ++t) h += HasToken(probe.tokens[t].c_str(), table.entries[r]) ? 1 : 0;
    hits[r] = h;
  }
}

}  // namespace varnox
