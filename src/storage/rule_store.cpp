#include "storage/rule_store.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/fixed_text.h"
#include "analysis/tokenizer.h"
#include "platform/ascii_text.h"
#include "platform/trace.h"

namespace varnox {
namespace {

// Quoted SQL text: apostrophes become blanks, nothing else is escaped.
std::string Sanitized(const std::string& text) {
  // Statements take texts as C strings, so a text ends at its first NUL.
  std::string out(UpToNul(text));
  SanitizeSqlText(out);
  return out;
}

// A rule's sender as it is stored and loaded: it must fit the entry's field,
// so that the text the editor shows also finds the row to delete.
std::string SenderField(const std::string& sender) {
  std::string out = Sanitized(sender);
  out.resize(Utf8PrefixLength(out, sizeof(RuleEntry::sender) - 1));
  return out;
}

int TruncatedPercent(float certainty) {
  if (certainty != certainty) return 0;  // NaN
  if (certainty >= 2147483647.0f) return INT_MAX;
  if (certainty <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(certainty);
}

}  // namespace

std::string RulesCreateStatement() {
  return FormatSql(
      "CREATE TABLE %s (Id INT UNIQUE, Sender TEXT, Message TEXT, Tokens TEXT, Response TEXT, "
      "UseResponse INT, FilterBySender INT, Certainty INT);",
      kRulesTable);
}

RuleStore::RuleStore(DataLocations& locations, RuleTable& table)
    : locations_(locations), table_(table) {}

RuleStore::~RuleStore() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  // The table may outlive this store; it must not call into a dead one.
  if (loaderInstalled_) table_.loader = nullptr;
  db_.Close();
}

bool RuleStore::CreateRulesTable() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  try {
    std::string path, table;
    locations_.ResolveRulesPath(path, table);
    if (!path.empty()) ExecOnce(path, RulesCreateStatement());
  } catch (...) {
    Trace("ERROR in CreateRulesTable");
  }
  return true;
}

bool RuleStore::OpenRulesDb() {
  if (db_.IsOpen()) return true;
  std::string path, table;
  // Without a data folder the path is empty, which Open refuses.
  locations_.ResolveRulesPath(path, table);
  return db_.OpenOrReport(path);
}

int RuleStore::RulesExec(const std::string& sql) {
  if (!OpenRulesDb()) return 1;
  std::string error;
  const int rc = db_.Exec(sql, &error);
  if (rc != SQLITE_OK && rc != 1) std::fprintf(stderr, "SQL error: %s\n", error.c_str());
  return rc;
}

int RuleStore::RulesMaxIdLocked() {
  if (!OpenRulesDb()) return -1;
  Statement stmt;
  if (db_.Prepare(FormatSql("SELECT MAX(Id) as MaxOfId FROM %s;", kRulesTable), stmt) != SQLITE_OK)
    return -1;
  if (stmt.Step() == SQLITE_ROW && stmt.DataCount() == 1) return stmt.ColumnInt(0);
  return -1;
}

int RuleStore::RulesMaxId() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  try {
    return RulesMaxIdLocked();
  } catch (...) {
    return -1;
  }
}

int RuleStore::StoredRuleCount() {
  Statement stmt;
  if (db_.Prepare(FormatSql("SELECT COUNT(*) FROM %s;", kRulesTable), stmt) != SQLITE_OK) return -1;
  if (stmt.Step() == SQLITE_ROW && stmt.DataCount() == 1) return stmt.ColumnInt(0);
  return -1;
}

bool RuleStore::FindRule(const std::string& sender, const std::string& tokens, int& id) {
  if (!OpenRulesDb()) return false;
  Statement stmt;
  if (db_.Prepare(FormatSql("SELECT Id FROM %s WHERE Sender = '%s' AND Tokens = '%s';", kRulesTable,
                            sender.c_str(), tokens.c_str()),
                  stmt) != SQLITE_OK)
    return false;
  if (stmt.Step() == SQLITE_ROW && stmt.DataCount() == 1) {
    id = stmt.ColumnInt(0);
    return true;
  }
  return false;
}

bool RuleStore::UpdateRule(int id, const std::string& sender, const std::string& message,
                           const std::string& tokens, const std::string& response, int useResponse,
                           int filterBySender, int certainty) {
  return RulesExec(FormatSql("UPDATE %s SET Sender = '%s', Message = '%s', Tokens = '%s', "
                             "Response = '%s', UseResponse = %d, FilterBySender = %d, "
                             "Certainty = %d WHERE Id = %d;",
                             kRulesTable, sender.c_str(), message.c_str(), tokens.c_str(),
                             response.c_str(), useResponse, filterBySender, certainty, id)) ==
         SQLITE_OK;
}

bool RuleStore::AddRule(const std::string& sender, const std::string& message,
                        const std::string& response, int useResponse, int filterBySender,
                        float certainty) {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  try {
    const std::string s = SenderField(sender);
    const std::string m = Sanitized(message);
    const std::string r = Sanitized(response);
    // The tokens come from the text as given; apostrophes delimit tokens, so
    // sanitizing the token string changes nothing but keeps the rule uniform.
    const std::string tokens = Sanitized(BuildTokenString(message));
    const int percent = TruncatedPercent(certainty);
    if (!OpenRulesDb()) return false;
    // Look-up and write in one IMMEDIATE transaction: another connection
    // cannot insert the same rule or take the same new Id in between.
    bool began = false;
    const bool stored = WriteTransaction(db_, [&] {
      began = true;
      int id = 0;
      if (FindRule(s, tokens, id))
        return UpdateRule(id, s, m, tokens, r, useResponse, filterBySender, percent);
      // The in-memory table holds kMaxRules entries; a rule beyond it would
      // be stored but never loaded.
      if (StoredRuleCount() >= kMaxRules) {
        Trace("AddRule: rule table full");
        return false;
      }
      const int maxId = RulesMaxIdLocked();
      const int newId = maxId < 0 ? 0 : maxId + 1;
      return RulesExec(FormatSql("INSERT INTO %s (Id, Sender, Message, Tokens, Response, "
                                 "UseResponse, FilterBySender, Certainty) VALUES (%d, '%s', '%s', "
                                 "'%s', '%s', %d, %d, %d);",
                                 kRulesTable, newId, s.c_str(), m.c_str(), tokens.c_str(),
                                 r.c_str(), useResponse, filterBySender, percent)) == SQLITE_OK;
    });
    if (!began) std::fprintf(stderr, "SQL error: %s\n", db_.ErrorMessage().c_str());
    // Every check and scan opens this file: keep its WAL from growing.
    if (stored) db_.TruncateWal();
    return stored;
  } catch (...) {
    Trace("ERROR in AddRule");
    return false;
  }
}

bool RuleStore::DeleteRule(const std::string& sender, const std::string& message) {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  try {
    const std::string s = SenderField(sender);
    const std::string m = Sanitized(message);
    const int rc = RulesExec(FormatSql("DELETE FROM %s WHERE Sender = '%s' AND Message = '%s';",
                                       kRulesTable, s.c_str(), m.c_str()));
    RemoveRuleEntry(s, m);
    if (rc == SQLITE_OK) db_.TruncateWal();
    return rc == SQLITE_OK;
  } catch (...) {
    Trace("ERROR in DeleteRule");
    return false;
  }
}

void RuleStore::RemoveRuleEntry(const std::string& sender, const std::string& message) {
  // Loaded texts carry blanks for apostrophes, so compare the sanitized forms.
  for (int i = 0; i < table_.count; ++i) {
    const RuleEntry& e = table_.entries[i];
    if (!EqualIgnoringAsciiCase(std::string_view(e.sender, strnlen(e.sender, sizeof e.sender)),
                                sender) ||
        !EqualIgnoringAsciiCase(e.message, message))
      continue;
    for (int j = i; j + 1 < table_.count; ++j) table_.entries[j] = std::move(table_.entries[j + 1]);
    table_.entries[table_.count - 1] = RuleEntry{};
    --table_.count;
    ++table_.generation;
    table_.MarkChanged();
    return;
  }
}

bool RuleStore::LoadRules() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  return LoadRulesLocked();
}

bool RuleStore::LoadRulesLocked() {
  std::string path, table;
  try {
    locations_.ResolveRulesPath(path, table);
    if (TraceEnabled()) Trace(path + " ; " + table);
    // Read into a fresh list first: a load that fails keeps the rules in
    // force, since an emptied table would pass every message as normal.
    std::vector<RuleEntry> rules;
    std::string error;
    if (!ReadRules(rules, error)) {
      Trace("Failed to open db");
      // The next try opens the file afresh: it may have been replaced.
      db_.Close();
      ReportLoadFailure(path.empty() ? "(no data folder)" : path, error);
      return false;
    }
    loadFailureReported_ = false;
    const bool same = table_.loaded && static_cast<int>(rules.size()) == table_.count &&
                      std::equal(rules.begin(), rules.end(), table_.entries.begin());
    if (!same) {
      ClearRuleTable(table_);
      for (RuleEntry& e : rules) AppendRule(table_, std::move(e));
      ++table_.generation;
    }
    table_.loaded = true;
    return true;
  } catch (...) {
    Trace("general error");
    ReportLoadFailure(path, "unexpected error");
    return false;
  }
}

bool RuleStore::ReadRules(std::vector<RuleEntry>& rules, std::string& error) {
  // Opened quietly: a load tried again and again must not repeat itself, and
  // its caller says the failure once, with the path.
  if (!db_.IsOpen()) {
    std::string path, table;
    locations_.ResolveRulesPath(path, table);
    if (const int rc = db_.Open(path, error); rc != SQLITE_OK && rc != 1) return false;
  }
  Statement stmt;
  if (db_.Prepare(FormatSql("SELECT Id, Sender, Message, Tokens, Response, UseResponse, "
                            "FilterBySender, Certainty FROM %s;",
                            kRulesTable),
                  stmt) != SQLITE_OK) {
    error = db_.ErrorMessage();
    return false;
  }
  int rc = SQLITE_OK;
  while (rules.size() < static_cast<std::size_t>(kMaxRules) && (rc = stmt.Step()) == SQLITE_ROW) {
    if (stmt.DataCount() != 8) continue;
    RuleEntry& e = rules.emplace_back();
    e.id = stmt.ColumnInt(0);
    CopyFixedText(e.sender, stmt.ColumnText(1));
    e.message = stmt.ColumnText(2);
    // NULL or empty Tokens give an empty list with count 0.
    SplitTokenString(stmt.ColumnText(3).c_str(), e.tokens, e.tokenCount);
    // The matcher searches the list; a row written elsewhere may be unsorted.
    SortTokenList(e.tokens, e.tokenCount);
    e.response = stmt.ColumnText(4);
    e.useResponse = stmt.ColumnInt(5);
    e.filterBySender = stmt.ColumnInt(6);
    e.certainty = static_cast<float>(stmt.ColumnInt(7));
  }
  // A read cut short by a locked or damaged database is no set of rules.
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    error = db_.ErrorMessage();
    return false;
  }
  return true;
}

void RuleStore::ReportLoadFailure(const std::string& path, const std::string& error) {
  if (loadFailureReported_) return;
  loadFailureReported_ = true;
  std::fprintf(stderr, "varnox: cannot load the rules from %s: %s%s\n", path.c_str(), error.c_str(),
               table_.loaded ? "; the rules loaded before stay in force"
                             : "; no message is classified until they can be read");
}

bool RuleStore::RulesLoaded() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  return table_.loaded;
}

void RuleStore::InstallLoader() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  table_.loader = [this](RuleTable&) { LoadRulesLocked(); };
  loaderInstalled_ = true;
}

int RuleStore::GetRuleCount() {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  return table_.count;
}

bool RuleStore::GetRule(int index, std::string& sender, std::string& message, std::string& response,
                        int& useResponse, int& filterBySender, float& certainty, int& id) {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  if (index < 0 || index >= table_.count) return false;
  const RuleEntry& e = table_.entries[index];
  sender.assign(e.sender, strnlen(e.sender, sizeof e.sender));
  message = e.message;
  response = e.response;
  useResponse = e.useResponse;
  filterBySender = e.filterBySender;
  certainty = e.certainty;
  id = e.id;
  return true;
}

bool RuleStore::FindRuleById(int id, std::string& sender, std::string& response, int& useResponse) {
  std::lock_guard<std::shared_mutex> guard(table_.lock);
  for (int i = 0; i < table_.count; ++i) {
    const RuleEntry& e = table_.entries[i];
    if (e.id != id) continue;
    sender.assign(e.sender, strnlen(e.sender, sizeof e.sender));
    response = e.response;
    useResponse = e.useResponse;
    return true;
  }
  return false;
}

}  // namespace varnox
