// The verdict on a message as logged: its sender address and token string
// against the rule table. The store scan, the SMS companion and the re-check
// of logged rows all classify through this one probe.
#pragma once

#include <string>

#include "analysis/rules.h"

namespace varnox {

// Classifies by the sender address of senderEmail ("Name <a@b>" or a bare
// address or number) and the token string: 1 spam, 0 not; match names the
// rule when asked.
int Classify(RuleTable& rules, const std::string& senderEmail, const std::string& tokens,
             RuleMatch* match = nullptr);

// The words of that wording; English unless the window's language replaces
// them.
struct MatchWords {
  std::string rule = "rule";
  std::string senderRule = "sender rule";
  std::string messageRule = "message rule";
  std::string hits = "hits";
  std::string similarity1 = "similarity 1";
  std::string similarity2 = "similarity 2";
  std::string certainty = "certainty";
};

// How the matching rule is worded wherever a verdict is explained (the check
// command, the viewer): "rule 3, sender rule", or "rule 5, message rule:
// hits 4, similarity 1 80.00, similarity 2 66.67, certainty 90".
std::string DescribeMatch(const RuleMatch& match, const MatchWords& words = {});

}  // namespace varnox
