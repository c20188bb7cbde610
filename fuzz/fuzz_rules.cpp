// The rule check on fuzzed rule and message texts: the indexed check must give
// the verdict, rule and hits of the plain per-rule search.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/fixed_text.h"
#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "reference/rules_plain.h"

namespace {

void Fill(varnox::RuleEntry& e, std::string_view text, bool raw) {
  // Either as the rule store builds lists, or a stored list taken as it is
  // (another program may have written anything into the database).
  const std::string tokens = raw ? std::string(text) : varnox::BuildTokenString(text);
  varnox::SplitTokenString(tokens.c_str(), e.tokens, e.tokenCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Layout: parts separated by 0xFF; the first is the message, the others rules.
  // A rule's first byte picks its kind and certainty.
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  auto table = std::make_unique<varnox::RuleTable>();
  varnox::RuleEntry probe;
  std::size_t pos = 0;
  bool first = true;
  while (pos <= all.size() && table->count < varnox::kMaxRules) {
    std::size_t end = all.find('\xFF', pos);
    if (end == std::string_view::npos) end = all.size();
    std::string_view part = all.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      first = false;
      Fill(probe, part, false);
      varnox::CopyFixedText(probe.sender, part.substr(0, 40));
      continue;
    }
    if (part.empty()) continue;
    const auto control = static_cast<unsigned char>(part[0]);
    part.remove_prefix(1);
    varnox::RuleEntry rule;
    rule.id = table->count + 1;
    rule.certainty = static_cast<float>(control % 128);
    if (control & 0x80) {
      rule.filterBySender = 1;
      varnox::CopyFixedText(rule.sender, part);
    } else {
      Fill(rule, part, (control & 0x40) != 0);
    }
    varnox::AppendRule(*table, std::move(rule));
  }
  varnox::RuleMatch fast, plain;
  const int a = varnox::CheckRules(*table, probe, &fast);
  const int b = varnox::CheckRulesPlain(*table, probe, &plain);
  if (a != b) std::abort();
  if (a && (fast.slot != plain.slot || fast.hits != plain.hits)) std::abort();
  return 0;
}
