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

}  // namespace varnox
