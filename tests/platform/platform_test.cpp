#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/file_tests.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// The long date is pinned with the data folder's day texts.
TEST(Formatters, TimeIsFixedAndLocaleFree) {
  std::tm t{};
  t.tm_min = 3;
  t.tm_sec = 57;
  std::string times;
  for (int hour : {18, 0, 12}) {
    t.tm_hour = hour;
    times += TimeText(t) + "|";
  }
  EXPECT_EQ(times, "6:03:57 PM|12:03:57 AM|12:03:57 PM|");
}

// Neither test creates a file; the running program is not writable
// (ETXTBSY) but a copy of it is.
TEST(FileTests, FilesFoldersAndTheRunningProgram) {
  TempRoot root;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  fs::copy_file(self, root / "copy");
  std::string seen;
  for (const std::string& path : {root / "missing", root.path(), std::string(self), root / "copy"})
    seen += std::to_string(FileExists(path)) + std::to_string(FileWritable(path)) + " ";
  EXPECT_EQ(seen, "00 00 10 11 ");
  EXPECT_FALSE(fs::exists(root / "missing"));
  if (geteuid() != 0) {  // root may write anything
    ::chmod((root / "copy").c_str(), 0444);
    EXPECT_EQ(
        std::to_string(FileExists(root / "copy")) + std::to_string(FileWritable(root / "copy")),
        "10");
  }
}

TEST(StorageCards, LinkedFoldersInNameOrderAtMostSixteen) {
  TempRoot root, media;
  fs::create_directories(root / "Varnox");
  fs::create_directories(root / "Mail");
  fs::create_directories(root / "plain-folder");  // not a card: same file system, no link
  ASSERT_TRUE(WriteFile(root / "file", ""));
  for (int i = 0; i < 20; ++i) {
    const std::string target = media / ("m" + std::to_string(i));
    fs::create_directories(target);
    fs::create_directory_symlink(target, root / ("Card " + std::to_string(100 + i)));
  }
  fs::create_symlink(root / "file", root / "link-to-file");
  fs::create_directory_symlink(media / "m0", root / "spool");  // the program's own folder
  fs::create_directory_symlink(media / "m0", root / std::string(64, 'x'));  // name too long

  StorageCards cards(root.path());
  cards.EnumStorageCards();
  ASSERT_EQ(cards.GetStorageCardCount(), 16);
  EXPECT_EQ(cards.GetStorageCardName(0) + "|" + cards.GetStorageCardName(15), "Card 100|Card 115");
}

// --root and VARNOX_ROOT are what the program's own tests run with.
TEST(DeviceRoot, WithoutOptionOrVariableXdgThenHome) {
  ::unsetenv("VARNOX_ROOT");
  ::setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(ResolveDeviceRoot(""), "/xdg/varnox");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/me", 1);
  EXPECT_EQ(ResolveDeviceRoot(""), "/home/me/.local/share/varnox");
}

}  // namespace
}  // namespace varnox
