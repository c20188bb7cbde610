// The demo root, scanned by the real program, and the shipped content as it
// is installed over files of every kind of history.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "app/demo_root.h"
#include "app/shipped_content.h"
#include "support/run_command.h"
#include "support/storage_helpers.h"

namespace varnox {
namespace {

using testsupport::FilesUnder;
using testsupport::Query;

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::time_t MTime(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// The files of the mail folder, the logged rows of its
// stores, the SMS rows and the rules: all a second run could add to.
std::string Contents(const std::string& root) {
  std::string all;
  std::vector<std::string> files = FilesUnder(root + "/Mail");
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) all += f + "\n";
  const std::string dba = root + "/Varnox/dba/";
  for (const auto& row : Query(dba + "Spam_0.db", "SELECT Id, Sender, Status FROM Spam"))
    all += row + "\n";
  for (const auto& row : Query(dba + "Rules_0.db", "SELECT Id, Sender, Message FROM Rules"))
    all += row + "\n";
  return all;
}

TEST(DemoRoot, HoldsVariedMailSmsAndRulesWhoseSpamTheScanMoves) {
  const testsupport::TempRoot root;
  std::tm noon{};
  noon.tm_year = 126, noon.tm_mon = 11, noon.tm_mday = 6, noon.tm_hour = 12, noon.tm_isdst = -1;
  const FixedClock clock(std::mktime(&noon));
  const std::string today = LongDateText(LocalTime(clock.Now()));
  const std::string yesterday = LongDateText(LocalTime(clock.Now() - 86400));
  std::string error;
  ASSERT_TRUE(MakeDemoRoot(root.path(), clock, error)) << error;

  // The message files: none may be left in tmp/.
  std::vector<std::string> mails = FilesUnder(root / "Mail");
  ASSERT_GE(mails.size(), 12u);
  std::set<std::string> stores, days;
  std::string everything;
  for (const std::string& f : mails) {
    stores.insert(std::filesystem::path(f).parent_path().parent_path().filename().string());
    days.insert(LongDateText(LocalTime(MTime(f))));
    const std::string text = Read(f);
    everything += f + "\n" + text;
    const std::size_t at = text.find('@', text.find("From:"));
    const std::string domain = text.substr(at + 1, text.find('>', at) - at - 1);
    EXPECT_TRUE(domain == "example.org" || domain == "example.net" || domain == "example.com") << f;
  }
  EXPECT_EQ(stores, (std::set<std::string>{"Personal", "Work"}));
  EXPECT_EQ(days, (std::set<std::string>{today, yesterday}));
  for (const char* kind : {"Content-Type: text/plain", "Content-Type: text/html",
                           "charset=UTF-8\n"
                           "Content-Transfer-Encoding: quoted-printable",
                           "Content-Transfer-Encoding: base64", "multipart/mixed",
                           "Content-Disposition: attachment", ":2,S\n", "/new/"})
    EXPECT_NE(everything.find(kind), std::string::npos) << kind;

  const std::string dba = root / "Varnox/dba/";
  EXPECT_EQ(Query(dba + "Rules_0.db", "SELECT COUNT(*) FROM Rules"), std::vector<std::string>{"3"});
  const auto sms =
      Query(dba + "Spam_0.db", "SELECT DISTINCT ReceivedDate, Status FROM Spam ORDER BY Status");
  EXPECT_EQ(sms, (std::vector<std::string>{today + "|0", today + "|1"}));

  const auto scan = testsupport::RunShell(std::string(VARNOX_BINARY) + " scan --once --root " +
                                          root.path() + " </dev/null 2>&1");
  ASSERT_EQ(scan.status, 0) << scan.out;
  int logged = 0;
  for (const char* store : {"Personal", "Work"})
    logged += std::stoi(Query(dba + store + ".db", "SELECT COUNT(*) FROM Msg")[0]);
  EXPECT_EQ(logged, static_cast<int>(mails.size())) << scan.out;
  // In .Spam exactly the messages that a rule describes: a promo sender, the
  // lottery prize, the parcel's customs fee.
  int moved = 0;
  for (const std::string& f : FilesUnder(root / "Mail")) {
    if (f.ends_with("/maildirfolder")) continue;
    const std::string text = Read(f);
    const bool spam = text.find("promo@") != std::string::npos ||
                      text.find("lottery") != std::string::npos ||
                      text.find("customs fee") != std::string::npos;
    EXPECT_EQ(f.find("/.Spam/") != std::string::npos, spam) << f;
    moved += spam;
  }
  EXPECT_GE(moved, 4);

  // A second run finds everything in place, the moved spam included.
  const std::string before = Contents(root.path());
  ASSERT_TRUE(MakeDemoRoot(root.path(), clock, error)) << error;
  EXPECT_EQ(Contents(root.path()), before);
}

TEST(ShippedContent, WritesMissingAndOldVersionsAndKeepsTheUsersOwn) {
  const std::string page = "help/eng/index.eng.htm";
  const EmbeddedFile files[] = {{page, "page 2"}, {"manifest.txt", "not installed"}};
  const std::string manifest = "# versions\n" + page + " " + ContentHash("page 1") + "\n" + page +
                               " " + ContentHash("page 2") + "\n";
  const struct {
    const char* name;
    std::optional<std::string> before;
    std::string after;
  } cases[] = {
      {"missing", std::nullopt, "page 2"},
      {"an old shipped version", "page 1", "page 2"},
      {"changed by the user", "my notes", "my notes"},
      {"current", "page 2", "page 2"},
  };
  for (const auto& c : cases) {
    const testsupport::TempRoot folder;
    const std::string path = folder / "Help/eng/index.eng.htm";
    constexpr std::time_t kOld = 1'000'000'000;
    if (c.before) {
      std::filesystem::create_directories(folder / "Help/eng");
      ASSERT_TRUE(testsupport::WriteFile(path, *c.before));
      const timespec times[2] = {{kOld, 0}, {kOld, 0}};
      ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    std::string error;
    EXPECT_TRUE(InstallShippedContent(folder.path(), files, manifest, error)) << c.name << error;
    EXPECT_EQ(Read(path), c.after) << c.name;
    // A file left alone is not rewritten either.
    if (c.before == c.after) {
      EXPECT_EQ(MTime(path), kOld) << c.name;
    }
    EXPECT_EQ(FilesUnder(folder.path()), std::vector<std::string>{path}) << c.name;
  }
}

TEST(ShippedContent, TheManifestHoldsEveryFileAsShippedAndTheHelpPageInstalls) {
  int installed = 0;
  for (const EmbeddedFile& f : ShippedFiles()) {
    if (InstallPath(f.path).empty()) continue;
    ++installed;
    EXPECT_TRUE(ManifestHasVersion(ShippedManifest(), f.path, ContentHash(f.data)))
        << "share/manifest.txt lacks the line: " << f.path << " " << ContentHash(f.data);
  }
  EXPECT_GE(installed, 1);
  const testsupport::TempRoot folder;
  std::string error;
  ASSERT_TRUE(InstallShippedContent(folder / "Varnox", error)) << error;
  const std::string help = Read(folder / "Varnox/Help/eng/index.eng.htm");
  EXPECT_NE(help.find("<title>Varnox Help</title>"), std::string::npos);
}

}  // namespace
}  // namespace varnox
