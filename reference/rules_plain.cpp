#include "reference/rules_plain.h"

#include <cstring>
#include <string>

namespace varnox {
namespace {

std::string LowerAscii(const char (&s)[256]) {
  std::string out(s, strnlen(s, sizeof s));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  return out;
}

}  // namespace

int CheckRulesPlain(RuleTable& table, const RuleEntry& probe, RuleMatch* match) {
  std::lock_guard<std::shared_mutex> guard(
      table.lock);  // guards: the table's entries while they are read
  try {
    if (table.count == 0 && table.loader) {
      table.loader(table);
      table.MarkChanged();
    }
    if (table.count <= 0) return 0;
    const std::string sender = LowerAscii(probe.sender);
    for (int r = 0; r < table.count; ++r) {
      const RuleEntry& e = table.entries[r];
      if (e.filterBySender == 0 || sender.find(LowerAscii(e.sender)) == std::string::npos) continue;
      if (match != nullptr) {
        *match = RuleMatch{};
        match->slot = r;
        match->id = e.id;
        match->bySender = true;
        match->certainty = e.certainty;
      }
      return 1;
    }
    for (int r = 0; r < table.count; ++r) {
      const RuleEntry& e = table.entries[r];
      if (e.filterBySender != 0) continue;
      if (IsSimilarMessage(probe, e, match)) {
        if (match != nullptr) match->slot = r;
        return 1;
      }
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace varnox
