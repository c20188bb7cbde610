#include <cstdio>
#include <memory>
#include <string>

#include "app/data_commands.h"
#include "app/storage_setup.h"
#include "storage/init_storage.h"

namespace varnox {
namespace {

struct RuleOptions {
  StorageOptions storage;
  std::string sender;
  std::string message;
  std::string response;
  bool useResponse = false;
  bool bySender = false;
  std::string certainty = "90";
};

// The command line takes what the rule editor takes: a rule that names
// neither sender nor words, or a sender rule without a sender, would match
// every message; a certainty outside 1..100 would never or always match.
// Returns the reason to refuse, empty when the rule may be stored.
std::string RefusedRule(const RuleOptions& o, int& certainty) {
  if (o.sender.empty() && o.message.empty())
    return "a rule needs a sender or a message; both are empty";
  if (o.bySender && o.sender.empty()) return "a sender rule (--by-sender) needs a sender";
  const std::string& c = o.certainty;
  const bool digits =
      !c.empty() && c.size() <= 3 && c.find_first_not_of("0123456789") == std::string::npos;
  certainty = digits ? std::stoi(c) : 0;
  if (certainty < 1 || certainty > 100)
    return "the certainty must be a whole number from 1 to 100, not '" + c + "'";
  return {};
}

int ListRules(const RuleOptions& o) {
  auto storage = OpenStorage(o.storage);
  if (!storage) return 1;
  if (!storage->rules.LoadRules()) return 1;  // the load said why, with the path
  for (int i = 0; i < storage->rules.GetRuleCount(); ++i) {
    std::string sender, message, response;
    int useResponse = 0, bySender = 0, id = 0;
    float certainty = 0;
    storage->rules.GetRule(i, sender, message, response, useResponse, bySender, certainty, id);
    std::printf("%d\t%s\t%d\t%d\t%g\t%s\n", id, OneLine(sender).c_str(), bySender, useResponse,
                static_cast<double>(certainty), OneLine(message).c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int AddRuleCommand(const RuleOptions& o) {
  int certainty = 0;
  if (const std::string refused = RefusedRule(o, certainty); !refused.empty()) {
    std::fprintf(stderr, "varnox: %s\n", refused.c_str());
    return 1;
  }
  auto storage = OpenStorage(o.storage);
  if (!storage) return 1;
  storage->rules.LoadRules();
  const int before = storage->rules.GetRuleCount();
  if (!storage->rules.AddRule(o.sender, o.message, o.response, o.useResponse ? 1 : 0,
                              o.bySender ? 1 : 0, static_cast<float>(certainty))) {
    if (before >= kMaxRules)
      std::fprintf(stderr, "varnox: %d rules are stored already; delete one first\n", kMaxRules);
    else
      std::fprintf(stderr, "varnox: the rule could not be stored in the rules database\n");
    return 1;
  }
  storage->locations.SignalRulesChanged();
  return 0;
}

int DeleteRuleCommand(const RuleOptions& o) {
  auto storage = OpenStorage(o.storage);
  if (!storage) return 1;
  // Stored texts carry blanks for apostrophes; the comparison is exact.
  std::string sender = o.sender, message = o.message;
  SanitizeSqlText(sender);
  SanitizeSqlText(message);
  storage->rules.LoadRules();
  bool found = false;
  for (int i = 0; i < storage->rules.GetRuleCount() && !found; ++i) {
    std::string s, m, r;
    int u = 0, b = 0, id = 0;
    float c = 0;
    storage->rules.GetRule(i, s, m, r, u, b, c, id);
    found = (s == sender && m == message);
  }
  if (!found) {
    std::fprintf(stderr, "varnox: no rule has that sender and message\n");
    return 1;
  }
  if (!storage->rules.DeleteRule(o.sender, o.message)) {
    std::fprintf(stderr, "varnox: the rule could not be deleted from the rules database\n");
    return 1;
  }
  storage->locations.SignalRulesChanged();
  return 0;
}

}  // namespace

void AddRulesCommand(CLI::App& app, CommandResult& result) {
  auto o = std::make_shared<RuleOptions>();
  CLI::App* rules = app.add_subcommand("rules", "List the rules; add or delete one");
  AddStorageOptions(rules, o->storage);
  rules->require_subcommand(0, 1);

  CLI::App* add = rules->add_subcommand("add",
                                        "Store a rule (replacing one with the same "
                                        "sender and the same words)");
  add->fallthrough();
  add->add_option("--sender", o->sender, "Sender text (a number, an address or part of one)")
      ->required();
  add->add_option("--message", o->message, "Sample message the rule is made from")->required();
  add->add_option("--response", o->response, "Text sent back by SMS when the rule fires");
  add->add_flag("--use-response", o->useResponse, "Send the response");
  add->add_flag("--by-sender", o->bySender, "Match by sender only (a sender rule)");
  add->add_option("--certainty", o->certainty, "Certainty in percent, a whole number from 1 to 100")
      ->capture_default_str();
  add->callback([o, &result] { result.status = AddRuleCommand(*o); });

  CLI::App* del = rules->add_subcommand("delete", "Delete the rules with this sender and message");
  del->fallthrough();
  del->add_option("--sender", o->sender, "Sender text as stored")->required();
  del->add_option("--message", o->message, "Message text as stored")->required();
  del->callback([o, &result] { result.status = DeleteRuleCommand(*o); });

  rules->callback([o, rules, &result] {
    if (rules->get_subcommands().empty()) result.status = ListRules(*o);
  });
}

}  // namespace varnox
