// An inverted index from token to the message rules that hold it, so a check
// costs one hash look-up per message token instead of a binary search per
// token and rule. It gives exactly the hit counts of the per-rule search.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/rules.h"

namespace varnox {

class RuleIndex {
 public:
  // Indexes the first count entries of table.
  void Build(const RuleTable& table);

  // hits[slot] for every message rule slot below the table's count: how many
  // of the probe's tokens occur in that rule.
  void CountHits(const RuleTable& table, const RuleEntry& probe, int* hits) const;

  // The rule's sender lower-cased, for the sender pass.
  const std::string& LowerSender(int slot) const { return lowerSenders_[slot]; }

 private:
  // 16 bytes, so that the table of 512 rules' tokens stays in the caches.
  struct Slot {
    std::uint32_t tag = 0;  // high half of the key's hash
    std::uint32_t keyOffset = 0;
    std::uint32_t postingsOffset = 0;
    std::uint16_t keyLength = 0;  // 0: empty slot (tokens are never empty)
    std::uint16_t postingsCount = 0;
  };
  const Slot* Find(const char* key, std::size_t len, std::uint64_t hash) const;
  Slot& Insert(std::string_view key, std::uint64_t hash);

  std::vector<Slot> slots_;
  std::vector<char> keys_;
  std::vector<std::uint16_t> postings_;  // rule slots, grouped by token
  // Message rules whose token lists are not strictly ascending once case is
  // folded (written by another program, say): the binary search may miss
  // tokens there, so those rules are counted by that search itself.
  std::vector<int> unindexed_;
  std::vector<std::string> lowerSenders_;
};

}  // namespace varnox
