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

TEST(Formatters, LongDateAndTimeAreFixedAndLocaleFree) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_min = 3;
  t.tm_sec = 57;
  EXPECT_EQ(LongDateText(t), "Sunday, December 06, 2026");  // tm_wday 0
  std::string times;
  for (int hour : {18, 0, 12}) {
    t.tm_hour = hour;
    times += TimeText(t) + "|";
  }
  EXPECT_EQ(times, "6:03:57 PM|12:03:57 AM|12:03:57 PM|");
}

TEST(FileTests, NeitherTestCreatesAFile) {
  TempRoot root;
  const std::string missing = root / "missing";
  EXPECT_FALSE(FileExists(missing));
  EXPECT_FALSE(FileWritable(missing));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(FileExists(root.path()));  // a folder is not a file

  ASSERT_TRUE(WriteFile(root / "f", "x"));
  EXPECT_TRUE(FileExists(root / "f"));
  EXPECT_TRUE(FileWritable(root / "f"));
  if (geteuid() != 0) {  // root may write anything
    ::chmod((root / "f").c_str(), 0444);
    EXPECT_TRUE(FileExists(root / "f"));
    EXPECT_FALSE(FileWritable(root / "f"));
  }
}

TEST(FileTests, TheRunningProgramIsNotWritableButACopyIs) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  EXPECT_TRUE(FileExists(self));
  EXPECT_FALSE(FileWritable(self));  // ETXTBSY
  TempRoot root;
  fs::copy_file(self, root / "copy");
  EXPECT_TRUE(FileWritable(root / "copy"));
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
  EXPECT_EQ(cards.GetStorageCardName(0), "Card 100");
  EXPECT_EQ(cards.GetStorageCardName(15), "Card 115");

  StorageCards none((root / "Mail"));
  none.EnumStorageCards();
  EXPECT_EQ(none.GetStorageCardCount(), 0);
}

TEST(DeviceRoot, OptionThenEnvironmentThenXdgThenHome) {
  EXPECT_EQ(ResolveDeviceRoot("/x"), "/x");
  ::setenv("VARNOX_ROOT", "/from-env", 1);
  EXPECT_EQ(ResolveDeviceRoot(""), "/from-env");
  ::unsetenv("VARNOX_ROOT");
  ::setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(ResolveDeviceRoot(""), "/xdg/varnox");
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/me", 1);
  EXPECT_EQ(ResolveDeviceRoot(""), "/home/me/.local/share/varnox");
}

}  // namespace
}  // namespace varnox
