// The shipped content as it is installed over files of every kind of
// history.
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

#include "app/shipped_content.h"
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
