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

std::string DescribeMatch(const RuleMatch& match, const MatchWords& words) {
  std::string line = words.rule + " " + std::to_string(match.id) + ", ";
  if (match.bySender) return line + words.senderRule;
  // Two decimals for the similarities and none for the certainty, in the
  // C locale's digits, as the console has always printed them.
  char number[3][32];
  std::snprintf(number[0], sizeof number[0], "%.2f", static_cast<double>(match.similarity1));
  std::snprintf(number[1], sizeof number[1], "%.2f", static_cast<double>(match.similarity2));
  std::snprintf(number[2], sizeof number[2], "%.0f", static_cast<double>(match.certainty));
  return line + words.messageRule + ": " + words.hits + " " + std::to_string(match.hits) + ", " +
         words.similarity1 + " " + number[0] + ", " + words.similarity2 + " " + number[1] + ", " +
         words.certainty + " " + number[2];
}

}  // namespace varnox
