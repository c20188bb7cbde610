// Corpus messages loaded once for all benchmarks.
#pragma once

#include <string>
#include <vector>

namespace varnox::bench {

// The bytes of every corpus message (cut at a NUL, as the operations read
// them); empty when the corpus is missing.
const std::vector<std::string>& CorpusTexts();
std::size_t CorpusBytes();

// Runs the rule-check comparison and prints its table; false when the two
// checks disagreed on any message.
bool RunRuleComparison();

}  // namespace varnox::bench
