// The SMS companion's intake: 1,000 received-message files in a spool,
// handled by one look of the watcher against 512 rules (sender and message
// rules): read, decode, tokenize, classify, log with the file's record, move.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

#include "rulehook/spool_watcher.h"
#include "storage/init_storage.h"
#include "support/temp_root.h"

namespace {

using namespace varnox;

constexpr int kFiles = 1000;

void BM_SmsIntake(benchmark::State& state) {
  testsupport::TempRoot root;
  FixedClock clock(1765000000);
  RuleTable table;
  Storage storage(root.path(), clock, table);
  storage.InitStorage(1, nullptr);
  const char* words[] = {"win",  "prize", "call",    "now",   "free",  "meeting", "tomorrow",
                         "bank", "loan",  "account", "click", "offer", "lunch",   "station"};
  std::mt19937 rng(7);
  auto sentence = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::string(words[rng() % 14]) + " ";
    return s;
  };
  for (int r = 0; r < 256; ++r)
    storage.rules.AddRule("+49" + std::to_string(1500 + r), "", "", 0, 1, 90.0f);
  for (int r = 0; r < 256; ++r) storage.rules.AddRule("", sentence(12), "", 0, 0, 80.0f);
  const std::string spool = root / "spool";
  std::filesystem::create_directories(spool + "/incoming");
  rulehook::SpoolWatcher watcher(storage.locations.DataFolder(), spool, clock);
  int serial = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kFiles; ++i, ++serial) {
      const std::string text = "From: 49" + std::to_string(1000 + rng() % 1000) +
                               "\nReceived: 26-12-06 09:15:07\nAlphabet: ISO\n\n" +
                               sentence(8 + rng() % 20) + std::to_string(serial);
      testsupport::WriteFile(spool + "/incoming/GSM1." + std::to_string(serial), text);
    }
    watcher.Look();  // sees the files
    state.ResumeTiming();
    const rulehook::LookReport report = watcher.Look();
    if (report.logged != kFiles) state.SkipWithError("not every SMS was logged");
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_SmsIntake)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
