#include "storage/classify.h"

#include <cstdio>

#include "analysis/fixed_text.h"
#include "storage/message_log.h"

namespace varnox {

int Classify(RuleTable& rules, const std::string& senderEmail, const std::string& tokens,
             RuleMatch* match) {
  RuleEntry probe;
  std::string address;
  ExtractAddress(senderEmail, address);
  CopyFixedText(probe.sender, address);
  SplitTokenString(tokens.c_str(), probe.tokens, probe.tokenCount);
  return CheckRules(rules, probe, match) == 1 ? 1 : 0;
}

std::string DescribeMatch(const RuleMatch& match) {
  char detail[200];
  if (match.bySender) {
    std::snprintf(detail, sizeof detail, "rule %d, sender rule", match.id);
  } else {
    std::snprintf(detail, sizeof detail,
                  "rule %d, message rule: hits %d, similarity 1 %.2f, similarity 2 %.2f, "
                  "certainty %.0f",
                  match.id, match.hits, static_cast<double>(match.similarity1),
                  static_cast<double>(match.similarity2), static_cast<double>(match.certainty));
  }
  return detail;
}

}  // namespace varnox
