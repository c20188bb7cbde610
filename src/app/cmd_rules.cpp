#include <cstdio>
#include <memory>

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
  double certainty = 90.0;
};

int ListRules(const RuleOptions& o) {
  auto storage = OpenStorage(o.storage);
  if (!storage->rules.LoadRules()) {
    std::fprintf(stderr, "varnox: cannot read the rules database\n");
    return 1;
  }
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
  auto storage = OpenStorage(o.storage);
  storage->rules.LoadRules();
  const int before = storage->rules.GetRuleCount();
  if (!storage->rules.AddRule(o.sender, o.message, o.response, o.useResponse ? 1 : 0,
                              o.bySender ? 1 : 0, static_cast<float>(o.certainty))) {
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
  add->add_option("--certainty", o->certainty, "Certainty in percent (stored as a whole number)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1.0e6));
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
