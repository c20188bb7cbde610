#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "analysis/rules.h"
#include "analysis/tokenizer.h"
#include "app/diag_commands.h"
#include "app/stdin_text.h"

namespace varnox {
namespace {

struct SimilarOptions {
  std::string ruleText;
  double certainty = 90.0;
};

// A message rule as the rule store makes one from a sample text.
void MakeMessageRule(const std::string& text, float certainty, RuleEntry& rule) {
  rule.message = text;
  SplitTokenString(BuildTokenString(text).c_str(), rule.tokens, rule.tokenCount);
  rule.certainty = certainty;
  rule.id = 1;
}

int RunSimilar(const SimilarOptions& options) {
  std::string text;
  if (!ReadStdinText(text)) return 2;

  auto table = std::make_unique<RuleTable>();
  RuleEntry rule;
  MakeMessageRule(options.ruleText, static_cast<float>(options.certainty), rule);
  AppendRule(*table, std::move(rule));

  RuleEntry probe;
  SplitTokenString(BuildTokenString(text).c_str(), probe.tokens, probe.tokenCount);

  RuleMatch detail;
  IsSimilarMessage(probe, table->entries[0], &detail);
  const int verdict = CheckRules(*table, probe);
  std::printf(
      "hits: %d\nmessage tokens: %d\nrule tokens: %d\nsimilarity 1: %.2f\nsimilarity 2: %.2f\n"
      "certainty: %.3f\nmatch: %s\n",
      detail.hits, probe.tokenCount, table->entries[0].tokenCount,
      static_cast<double>(detail.similarity1), static_cast<double>(detail.similarity2),
      static_cast<double>(table->entries[0].certainty), verdict ? "yes" : "no");
  return std::fflush(stdout) == 0 ? 0 : 2;
}

}  // namespace

void AddSimilarCommand(CLI::App& app, CommandResult& result) {
  auto options = std::make_shared<SimilarOptions>();
  CLI::App* cmd = app.add_subcommand(
      "similar", "Compare the message on standard input with a message rule made from --rule-text");
  cmd->add_option("--rule-text", options->ruleText, "The rule's sample message")->required();
  cmd->add_option("--certainty", options->certainty, "The rule's certainty in percent")
      ->capture_default_str()
      ->check([](const std::string& s) -> std::string {
        try {
          const double v = std::stod(s);
          return std::isfinite(v) ? "" : "must be a finite number";
        } catch (...) {
          return "must be a number";
        }
      });
  cmd->callback([options, &result] { result.status = RunSimilar(*options); });
}

}  // namespace varnox
