#include "storage/rule_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analysis/fixed_text.h"
#include "analysis/tokenizer.h"
#include "storage/sms_log.h"
#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

using namespace testsupport;

class RuleStoreTest : public ::testing::Test, protected DataRoot {
 protected:
  void SetUp() override {
    store_ = std::make_unique<RuleStore>(locations_, table_);
    store_->CreateRulesTable();
  }

  RuleStore& store() { return *store_; }
  std::vector<std::string> Rows(const std::string& columns = "Id, Sender, Message") {
    return Query(RulesPath(), "SELECT " + columns + " FROM Rules ORDER BY Id;");
  }
  bool Add(const std::string& sender, const std::string& message, const std::string& response = "",
           float certainty = 90.0f) {
    return store().AddRule(sender, message, response, 0, sender.empty() ? 0 : 1, certainty);
  }
  // GetRule's fields joined by '|', or "none".
  std::string Got(int index) {
    std::string sender, message, response;
    int useResponse = -1, filterBySender = -1, id = -1;
    float certainty = -1;
    if (!store().GetRule(index, sender, message, response, useResponse, filterBySender, certainty,
                         id))
      return "none";
    return sender + "|" + message + "|" + response + "|" + std::to_string(useResponse) +
           std::to_string(filterBySender) + "|" + Number(certainty) + "|" + std::to_string(id);
  }
  std::string LoadedSender(int index) {
    const std::string got = Got(index);
    return got.substr(0, got.find('|'));
  }
  // Each loaded entry's Id, certainty and counted tokens.
  std::vector<std::string> Loaded() {
    std::vector<std::string> out;
    for (int i = 0; i < store().GetRuleCount(); ++i) {
      const RuleEntry& e = table_.entries[i];
      std::string tokens;
      for (int k = 0; k < e.tokenCount; ++k) tokens += e.tokens[k] + " ";
      out.push_back(std::to_string(e.id) + "|" + Number(e.certainty) + "|" + tokens);
    }
    return out;
  }
  // Every process replays the WAL when it opens the rules: a change leaves none.
  std::uintmax_t WalBytes() {
    std::error_code ec;
    const auto n = std::filesystem::file_size(RulesPath() + "-wal", ec);
    return ec ? 0 : n;
  }
  static std::string Number(float f) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(f));
    return text;
  }

  RuleTable table_;
  std::unique_ptr<RuleStore> store_;
};

TEST_F(RuleStoreTest, SameSenderAndTokenStringReplacesTheRuleUnderItsId) {
  ASSERT_TRUE(store().AddRule("555", "win a free prize now", "stop", 0, 0, 90.0f));
  ASSERT_TRUE(Add("666", "something else"));
  // The same words in another order give the same token string; the
  // certainty is stored cut to a whole number, not rounded.
  ASSERT_TRUE(store().AddRule("555", "now prize free a win", "go away", 1, 1, 75.9f));
  EXPECT_EQ(Rows("Id, Sender, Message, Tokens, Response, UseResponse, FilterBySender, Certainty"),
            (std::vector<std::string>{
                "1|555|now prize free a win|" + BuildTokenString("win a free prize now") +
                    "|go away|1|1|75",
                "2|666|something else|" + BuildTokenString("something else") + "||0|1|90"}));
  // Another sender, or other words, make a new rule.
  ASSERT_TRUE(Add("777", "win a free prize now"));
  ASSERT_TRUE(Add("555", "win a free prize later"));
  EXPECT_EQ(Rows("Id, Sender").size(), 4u);
  EXPECT_EQ(WalBytes(), 0u);
}

TEST_F(RuleStoreTest, ApostrophesAreStoredAsBlanksAndFindTheStoredRow) {
  ASSERT_TRUE(store().AddRule("O'Brien", "it's Tom's offer", "don't", 1, 1, 90.0f));
  ASSERT_TRUE(store().AddRule("O'Brien", "it's Tom's offer", "won't", 1, 1, 90.0f));
  EXPECT_EQ(Rows("Id, Sender, Message, Response"),
            (std::vector<std::string>{"1|O Brien|it s Tom s offer|won t"}));

  ASSERT_TRUE(store().LoadRules());
  ASSERT_EQ(store().GetRuleCount(), 1);
  EXPECT_EQ(LoadedSender(0), "O Brien");
  // The text as typed, apostrophes and all, removes both the row and the entry.
  EXPECT_TRUE(store().DeleteRule("O'Brien", "it's Tom's offer"));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(store().GetRuleCount(), 0);

  // Quotes never change a statement.
  ASSERT_TRUE(Add("111", "keep me"));
  ASSERT_TRUE(store().AddRule("333", "x'); DROP TABLE Rules; --", "", 0, 0, 90.0f));
  ASSERT_TRUE(store().LoadRules());
  EXPECT_TRUE(store().DeleteRule("' OR '1'='1", "' OR '1'='1"));
  EXPECT_TRUE(store().DeleteRule("111", "x' OR '1'='1"));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|111|keep me", "2|333|x ); DROP TABLE Rules; --"}));
  EXPECT_EQ(store().GetRuleCount(), 2);
}

TEST_F(RuleStoreTest, LoadRulesFillsTheTableInRowOrder) {
  ASSERT_TRUE(store().LoadRules());
  EXPECT_EQ(store().GetRuleCount(), 0);

  Exec(RulesPath(),
       "INSERT INTO Rules VALUES (7, '+4917', 'free money', 'free money ', 'no', 1, 1, 80);"
       "INSERT INTO Rules VALUES (3, '', 'null tokens', NULL, NULL, 0, 0, 90);"
       "INSERT INTO Rules VALUES (5, 'x', 'unsorted', 'zeta alpha mid ', '', 0, 0, 60);"
       "INSERT INTO Rules (Id) VALUES (9);");
  ASSERT_TRUE(store().LoadRules());
  // The matcher searches token lists; a row written elsewhere may not be sorted.
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"7|80|free money ", "3|90|", "5|60|alpha mid zeta ",
                                                "9|0|"}));
  EXPECT_TRUE(table_.entries[0].tokens.size() == 2 && table_.entries[1].tokens.empty());
  EXPECT_EQ(Got(0), "+4917|free money|no|11|80|7");
  EXPECT_EQ(Got(1), "|null tokens||00|90|3");
  EXPECT_EQ(Got(4) + Got(-1), "nonenone");

  // Every load replaces the whole table.
  Exec(RulesPath(), "DELETE FROM Rules WHERE Id <> 5;");
  ASSERT_TRUE(store().LoadRules());
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"5|60|alpha mid zeta "}));
  EXPECT_TRUE(table_.entries[1].message.empty());
}

TEST_F(RuleStoreTest, LongSendersAreCutAtACharacterBoundary) {
  // 254 bytes and a two-byte character: 255 bytes would split the character.
  const std::string longSender = std::string(254, 'a') + "\xC3\xA9" + "tail";
  Exec(RulesPath(), "INSERT INTO Rules VALUES (1, '" + longSender + "', 'm', 'm ', '', 0, 1, 90);");
  ASSERT_TRUE(store().LoadRules());
  EXPECT_EQ(LoadedSender(0), std::string(254, 'a'));
  Exec(RulesPath(), "DELETE FROM Rules;");

  // A rule added with such a sender is stored as it loads, so the text the
  // editor shows deletes it again.
  ASSERT_TRUE(Add(longSender, "long one"));
  EXPECT_EQ(Rows("Sender"), (std::vector<std::string>{std::string(254, 'a')}));
  ASSERT_TRUE(store().LoadRules());
  EXPECT_TRUE(store().DeleteRule(LoadedSender(0), "long one"));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(store().GetRuleCount(), 0);
}

TEST_F(RuleStoreTest, DeleteIgnoresCaseInTheTableButNotInTheDatabase) {
  ASSERT_TRUE(Add("ABC", "Hello There"));
  ASSERT_TRUE(Add("xyz", "other"));
  ASSERT_TRUE(store().LoadRules());
  EXPECT_TRUE(store().DeleteRule("abc", "hello there"));
  ASSERT_EQ(store().GetRuleCount(), 1);
  EXPECT_EQ(LoadedSender(0), "xyz");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"1|ABC|Hello There", "2|xyz|other"}));
  EXPECT_EQ(WalBytes(), 0u);

  // A rule that is not loaded: the table stays, the row goes.
  Exec(RulesPath(), "INSERT INTO Rules VALUES (3, 'new', 'unloaded', '', '', 0, 1, 90);");
  EXPECT_TRUE(store().DeleteRule("new", "unloaded"));
  EXPECT_EQ(store().GetRuleCount(), 1);
  EXPECT_EQ(Rows("Id"), (std::vector<std::string>{"1", "2"}));

  // Equal rules leave the table one at a time but the database together.
  Exec(RulesPath(),
       "DELETE FROM Rules; INSERT INTO Rules VALUES (1, 'dup', 'same', 'same ', 'r1', 0, 1, 90);"
       "INSERT INTO Rules VALUES (2, 'keep', 'other', 'other ', '', 0, 1, 90);"
       "INSERT INTO Rules VALUES (3, 'dup', 'same', 'same ', 'r3', 0, 1, 90);");
  ASSERT_TRUE(store().LoadRules());
  EXPECT_TRUE(store().DeleteRule("dup", "same"));
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"2|90|other ", "3|90|same "}));
  EXPECT_EQ(Rows("Id"), (std::vector<std::string>{"2"}));
}

TEST_F(RuleStoreTest, FindRuleByIdLooksAtLoadedEntriesOnly) {
  ASSERT_TRUE(store().AddRule("+491", "", "call me", 1, 1, 90.0f));
  ASSERT_TRUE(store().AddRule("+492", "", "later", 0, 1, 90.0f));
  // The fields found, or "none" with the fields untouched.
  const auto find = [&](int id) {
    std::string sender = "-", response = "-";
    int useResponse = -5;
    const bool found = store().FindRuleById(id, sender, response, useResponse);
    return (found ? "" : "none ") + sender + "/" + response + "/" + std::to_string(useResponse);
  };
  const std::string before = find(1);  // not loaded yet
  ASSERT_TRUE(store().LoadRules());
  EXPECT_EQ(before + ", " + find(2) + ", " + find(1) + ", " + find(3),
            "none -/-/-5, +492/later/0, +491/call me/1, none -/-/-5");
}

TEST_F(RuleStoreTest, NewRulesAreRefusedOnceTheTableIsFullButReplacementsWork) {
  ASSERT_TRUE(store().AddRule("first", "", "old", 0, 1, 90.0f));
  Exec(RulesPath(),
       "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 511) "
       "INSERT INTO Rules SELECT i, 's' || i, '', '', '', 0, 1, 90 FROM n;");
  EXPECT_TRUE(Add("number 512", ""));
  EXPECT_FALSE(Add("number 513", ""));
  EXPECT_EQ(Rows("COUNT(*), MAX(Id)"), (std::vector<std::string>{"512|512"}));

  EXPECT_TRUE(store().AddRule("first", "", "new", 1, 1, 90.0f));
  EXPECT_EQ(Query(RulesPath(), "SELECT Response FROM Rules WHERE Id = 1;"),
            (std::vector<std::string>{"new"}));

  // A new rule takes the largest Id plus one, never a gap below it.
  ASSERT_TRUE(store().DeleteRule("s7", ""));
  EXPECT_TRUE(Add("number 513", ""));
  EXPECT_EQ(Rows("COUNT(*), MAX(Id)"), (std::vector<std::string>{"512|513"}));
  EXPECT_EQ(store().RulesMaxId(), 513);

  // More rows than the table holds (written elsewhere): the load stops at 512.
  Exec(RulesPath(), "INSERT INTO Rules VALUES (600, 'extra', '', '', '', 0, 1, 90);");
  ASSERT_TRUE(store().LoadRules());
  EXPECT_EQ(store().GetRuleCount(), kMaxRules);
}

TEST_F(RuleStoreTest, TheMatcherLoadsAnEmptyTableUntilTheStoreGoes) {
  ASSERT_TRUE(Add("spammer.example", ""));
  store().InstallLoader();
  RuleEntry bySender;
  CopyFixedText(bySender.sender, "Someone <offers@SPAMMER.example>");
  EXPECT_EQ(CheckRules(table_, bySender), 1);  // loads with the lock held: no deadlock
  store_.reset();
  ClearRuleTable(table_);
  EXPECT_FALSE(table_.loader);
  EXPECT_EQ(CheckRules(table_, bySender), 0);
}

TEST_F(RuleStoreTest, AReadOnlyDataFolderRefusesChangesAndKeepsRulesAndVerdicts) {
  ASSERT_TRUE(Add("111", "one"));
  ASSERT_TRUE(Add("222", "two"));
  Exec(LogPath(), "INSERT INTO Spam (Id, Status) VALUES (1, 0);");
  store_.reset();  // no connection may cross into the child process
  const std::vector<std::string> before = Rows();

  const std::string failure = WithoutWriteAccess(root_.path(), DataFolder(), [&] {
    std::string what;
    RuleTable table;
    RuleStore store(locations_, table);
    SmsLog sms(locations_);
    if (store.AddRule("333", "three", "", 0, 1, 90.0f)) what += "AddRule stored; ";
    if (store.AddRule("111", "one", "changed", 0, 1, 90.0f)) what += "AddRule replaced; ";
    if (store.DeleteRule("111", "one")) what += "DeleteRule deleted; ";
    if (sms.SmsLogSetStatus(1, 1)) what += "SmsLogSetStatus wrote; ";
    // Reading may or may not work without write access; it must not lie.
    const bool loaded = store.LoadRules();
    if (loaded && store.GetRuleCount() != 2) what += "LoadRules gave a wrong count; ";
    if (!loaded && store.GetRuleCount() != 0) what += "failed LoadRules left entries; ";
    return what;
  });
  EXPECT_EQ(failure, "");
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Query(LogPath(), "SELECT Status FROM Spam;"), std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace varnox
