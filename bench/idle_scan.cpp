// The scan's cost while nothing arrives: ten stores of 10,000 logged
// messages, passes run back to back without the product's pauses, and the
// CPU time of an ordinary pass, a 10th and a 60th pass. With the product's
// timing (one pass a second) that gives the scan's share of one core.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "html2txt/html_converter.h"
#include "mailstore/scan.h"
#include "storage/init_storage.h"
#include "support/temp_root.h"

namespace {

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  using namespace varnox;
  constexpr int kStores = 10, kMessages = 10000;
  testsupport::TempRoot root;
  FixedClock clock(1700000000);
  RuleTable table;
  Storage storage(root.path(), clock, table);
  storage.InitStorage(1, nullptr);
  InitMailHeaderParser();
  CreateHtmlConverter();
  storage.rules.AddRule("", "limited offer act now", "", 0, 0, 90.0f);

  std::printf("making %d stores of %d messages...\n", kStores, kMessages);
  for (int s = 0; s < kStores; ++s) {
    const std::string store = root / ("Mail/store" + std::to_string(s));
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(store + "/" + sub);
    for (int m = 0; m < kMessages; ++m) {
      const std::string name = store + "/cur/" + std::to_string(1600000000 + m) + ".M" +
                               std::to_string(m) + ".bench:2,S";
      testsupport::WriteFile(name, "From: Sender " + std::to_string(m) + " <s" + std::to_string(m) +
                                       "@example.org>\nSubject: Message " + std::to_string(m) +
                                       " of store " + std::to_string(s) +
                                       "\n\nHello, this is message number " + std::to_string(m) +
                                       ".\n");
    }
  }
  // Folders settled a minute ago, as an idle mailbox is.
  for (const auto& e : fs::recursive_directory_iterator(root / "Mail")) {
    if (!e.is_directory()) continue;
    timespec times[2] = {{1699999000, 0}, {1699999000, 0}};
    utimensat(AT_FDCWD, e.path().c_str(), times, 0);
  }

  PauseGate gate(false);
  StoreScan scan(root / "Mail", storage.messages, storage.rules, table, gate);
  scan.LogonMailStore();
  double t = CpuSeconds();
  scan.RunPass();  // the first pass logs every message
  std::printf("first pass (logs %d messages): %.1f s CPU\n", kStores * kMessages, CpuSeconds() - t);

  double ordinary = 0, tenth = 0, sixtieth = 0;
  int ordinaryCount = 0, tenthCount = 0;
  while (scan.PassCount() <= 60) {
    const int pass = scan.PassCount();
    t = CpuSeconds();
    scan.RunPass();
    const double used = CpuSeconds() - t;
    if (pass % 60 == 0) {
      sixtieth = used;
    } else if (pass % 10 == 0) {
      tenth += used;
      ++tenthCount;
    } else {
      ordinary += used;
      ++ordinaryCount;
    }
  }
  const double perMinute = ordinary + tenth + sixtieth;  // 60 passes, one a second
  std::printf("ordinary pass: %.3f ms CPU (mean of %d)\n", 1e3 * ordinary / ordinaryCount,
              ordinaryCount);
  std::printf("10th pass:     %.1f ms CPU (mean of %d)\n", 1e3 * tenth / tenthCount, tenthCount);
  std::printf("60th pass:     %.1f ms CPU\n", 1e3 * sixtieth);
  std::printf("share of one core over a minute at one pass a second: %.3f %%\n",
              100.0 * perMinute / 60.0);
  return 0;
}
