#include "storage/init_storage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/storage_helpers.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

TEST(InitStorage, TheCardQuestionIsAskedOnceAndOnlyWithACard) {
  FixedClock clock{1765000000};
  RuleTable table;
  int asked = 0;
  // A start on root that answers the card question with answer.
  const auto start = [&](const TempRoot& root, bool answer) {
    auto s = std::make_unique<Storage>(root.path(), clock, table);
    s->locations.FindInstallFolder();
    s->InitStorage(1, [&asked, answer](const std::string& text, const std::string& caption) {
      EXPECT_EQ(text + "|" + caption, "Use CF Card?|Question");
      ++asked;
      return answer;
    });
    return s;
  };
  const struct {
    bool card, yes;
    std::string data;
    int asked;
  } cases[] = {
      {true, true, "Storage Card/Varnox/dba/", 1},
      {true, false, "Varnox/dba/", 1},
      {false, true, "Varnox/dba/", 0},
  };
  const std::string tables = "SELECT group_concat(name) FROM sqlite_master WHERE type='table';";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data + (c.card ? " with a card" : ""));
    TempRoot root, card;
    if (c.card) fs::create_directory_symlink(card.path(), root / "Storage Card");
    asked = 0;
    EXPECT_EQ(start(root, c.yes)->locations.DataFolder(), root / c.data);
    EXPECT_EQ(Query(root / (c.data + "Spam_0.db"), tables)[0] + "|" +
                  Query(root / (c.data + "Rules_0.db"), tables)[0],
              "Spam|Rules");
    EXPECT_EQ(fs::exists(card / "Varnox"), c.card && c.yes);
    EXPECT_EQ(start(root, !c.yes)->locations.DataFolder(), root / c.data);  // found: not asked
    EXPECT_EQ(asked, c.asked);
  }
}

}  // namespace
}  // namespace varnox
