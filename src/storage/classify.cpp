#include "storage/classify.h"

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

}  // namespace varnox
