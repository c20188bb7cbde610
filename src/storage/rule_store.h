// The rules database (Rules_0.db, table Rules) and the in-memory rule table
// that mirrors it for the matcher.
#pragma once

#include <string>
#include <vector>

#include "analysis/rules.h"
#include "storage/data_locations.h"
#include "storage/sqlite_db.h"

namespace varnox {

// The statement that creates the Rules table (InitStorage runs it once).
std::string RulesCreateStatement();

// Adds, replaces, deletes and loads rules. The table's lock serialises every
// operation, and it also guards this store's connection: the matcher, the
// editor, the re-check and the response sender all share both.
class RuleStore {
 public:
  RuleStore(DataLocations& locations, RuleTable& table);
  ~RuleStore();
  RuleStore(const RuleStore&) = delete;
  RuleStore& operator=(const RuleStore&) = delete;

  // Creates the Rules table when it does not exist; always true.
  bool CreateRulesTable();

  // Stores a rule: replaces the rule with the same sender and token string
  // under its Id, else inserts it under the largest Id plus 1. A new rule is
  // refused once kMaxRules rules are stored. The table follows on the next
  // load.
  bool AddRule(const std::string& sender, const std::string& message, const std::string& response,
               int useResponse, int filterBySender, float certainty);
  // Deletes the rows with this sender and message and the first loaded entry
  // that equals them ignoring case. True when the delete statement succeeded.
  bool DeleteRule(const std::string& sender, const std::string& message);

  // Refills the table from the database (at most kMaxRules entries). A
  // failed load keeps the table as it was and says so once on standard
  // error, with the database's path.
  bool LoadRules();
  // Whether a load has ever succeeded; until then nothing may be classified.
  bool RulesLoaded();
  // The same with the table's lock already held (the table's loader).
  bool LoadRulesLocked();
  // Makes the table load itself through this store when it is found empty.
  void InstallLoader();

  // The table this store loads (the viewer explains verdicts by it).
  RuleTable& Table() { return table_; }

  int GetRuleCount();
  // Copies of the entry at index; false only for an index out of range.
  bool GetRule(int index, std::string& sender, std::string& message, std::string& response,
               int& useResponse, int& filterBySender, float& certainty, int& id);
  // The first loaded entry with this id; outputs untouched when none.
  bool FindRuleById(int id, std::string& sender, std::string& response, int& useResponse);

  // Largest stored Id (0 for none), -1 on failure. Opens the connection.
  int RulesMaxId();

 private:
  // All of these run with table_.lock held.
  bool OpenRulesDb();
  bool ReadRules(std::vector<RuleEntry>& rules, std::string& error);
  void ReportLoadFailure(const std::string& path, const std::string& error);
  int RulesExec(const std::string& sql);
  int RulesMaxIdLocked();
  int StoredRuleCount();
  bool FindRule(const std::string& sender, const std::string& tokens, int& id);
  bool UpdateRule(int id, const std::string& sender, const std::string& message,
                  const std::string& tokens, const std::string& response, int useResponse,
                  int filterBySender, int certainty);
  void RemoveRuleEntry(const std::string& sender, const std::string& message);

  DataLocations& locations_;
  RuleTable& table_;
  Database db_;  // kept open for the run once opened; guarded by table_.lock
  bool loaderInstalled_ = false;
  bool loadFailureReported_ = false;  // the current run of failed loads was reported
};

}  // namespace varnox
