// The rule check by a binary search per rule and token, without the index:
// the reference the fast check is held against.
#pragma once

#include "analysis/rules.h"

namespace varnox {

// The verdict and match of CheckRules, found the slow way.
int CheckRulesPlain(RuleTable& table, const RuleEntry& probe, RuleMatch* match = nullptr);

}  // namespace varnox
