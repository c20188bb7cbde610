// The store scan's idle cost: ten Maildir inboxes of 10,000 small messages,
// built once in a temporary folder. The scan counts every inbox each second
// and lists it every 10th second; with nothing changed both must come from
// what the last look kept. Also the first (cold) listing of one inbox.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/maildir.h"
#include "support/temp_root.h"

namespace {

using namespace varnox;

constexpr int kStores = 10;
constexpr int kMessages = 10000;
constexpr std::time_t kOldest = 1760000000;

std::string SmallMessage(int store, int n) {
  std::string m = "Return-Path: <user" + std::to_string(n % 509) +
                  "@example.org>\nReceived: from mx.example.org by mail.example.net; Mon, 6 Oct "
                  "2025 10:00:00 +0000\nFrom: =?UTF-8?Q?Sender_M=C3=BCller_" +
                  std::to_string(n % 509) + "?= <user" + std::to_string(n % 509) +
                  "@example.org>\nTo: me@example.net\nSubject: Offer number " + std::to_string(n) +
                  " for store " + std::to_string(store) + "\nMessage-ID: <" + std::to_string(n) +
                  "." + std::to_string(store) +
                  "@example.org>\nContent-Type: text/plain; charset=utf-8\n\n";
  for (int line = 0; line < 12; ++line)
    m += "Some words of the body, line after line, plain text.\n";
  return m;
}

// Ten inboxes as a delivery agent leaves them: a third unread in new/, the
// rest in cur/ with flags; folders last changed a minute before the run.
class BenchStores {
 public:
  BenchStores() {
    namespace fs = std::filesystem;
    const auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < kStores; ++s) {
      const std::string path = root_ / ("Mail/Store" + std::to_string(s));
      for (const char* sub : {"/new", "/cur", "/tmp"}) fs::create_directories(path + sub);
      for (int n = 0; n < kMessages; ++n) {
        const std::string bytes = SmallMessage(s, n);
        const std::time_t t = kOldest + n * 37;
        std::string name = std::to_string(t) + ".M" + std::to_string(n) + "P4242Q" +
                           std::to_string(s) + ".bench,S=" + std::to_string(bytes.size());
        const bool unread = n % 3 == 0;
        name = unread ? path + "/new/" + name : path + "/cur/" + name + (n % 2 ? ":2,S" : ":2,RS");
        testsupport::WriteFile(name, bytes);
        const timespec times[2] = {{t, 0}, {t, 0}};
        ::utimensat(AT_FDCWD, name.c_str(), times, 0);
      }
      const std::time_t settled = std::time(nullptr) - 60;
      const timespec times[2] = {{settled, 0}, {settled, 0}};
      for (const char* sub : {"/new", "/cur"})
        ::utimensat(AT_FDCWD, (path + sub).c_str(), times, 0);
      paths_.push_back(path);
      stores_.emplace_back("Store" + std::to_string(s), path);
      tables_.emplace_back();
    }
    const double built =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The scan's first pass: every inbox listed once.
    for (int s = 0; s < kStores; ++s) stores_[s].ContentsTable(tables_[s]);
    std::printf("maildir: %d stores of %d messages built in %.1f s\n", kStores, kMessages, built);
  }

  std::vector<MailStore>& stores() { return stores_; }
  std::vector<std::vector<MailRow>>& tables() { return tables_; }
  const std::string& path(int s) const { return paths_[s]; }

 private:
  testsupport::TempRoot root_;
  std::vector<std::string> paths_;
  std::vector<MailStore> stores_;
  std::vector<std::vector<MailRow>> tables_;
};

BenchStores& Stores() {
  static BenchStores stores;
  return stores;
}

// One idle pass of the scan: the row count of every inbox.
void BM_MaildirIdlePass(benchmark::State& state) {
  BenchStores& b = Stores();
  long rows = 0;
  for (auto _ : state) {
    rows = 0;
    for (MailStore& s : b.stores()) rows += s.InboxRowCount();
    benchmark::DoNotOptimize(rows);
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_MaildirIdlePass)->Unit(benchmark::kMicrosecond);

// The 10th pass: the contents table of every inbox, nothing changed. With
// Arg 1 into the vectors of the last pass (their strings are reused), with
// Arg 0 into new vectors.
void BM_MaildirTenthPass(benchmark::State& state) {
  BenchStores& b = Stores();
  const bool reuse = state.range(0) == 1;
  std::size_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    for (int s = 0; s < kStores; ++s) {
      if (reuse) {
        b.stores()[s].ContentsTable(b.tables()[s]);
        rows += b.tables()[s].size();
      } else {
        std::vector<MailRow> table;
        b.stores()[s].ContentsTable(table);
        rows += table.size();
      }
    }
    benchmark::DoNotOptimize(rows);
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_MaildirTenthPass)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The first listing of one inbox of 10,000 messages (files in the page
// cache): every file is opened and its header block parsed.
void BM_MaildirColdContentsTable(benchmark::State& state) {
  BenchStores& b = Stores();
  std::vector<MailRow> table;
  int s = 0;
  for (auto _ : state) {
    MailStore fresh("Cold", b.path(s));
    fresh.ContentsTable(table);
    benchmark::DoNotOptimize(table.data());
    s = (s + 1) % kStores;
  }
  state.SetItemsProcessed(state.iterations() * kMessages);
  state.counters["rows"] = static_cast<double>(table.size());
}
BENCHMARK(BM_MaildirColdContentsTable)->Unit(benchmark::kMillisecond);

}  // namespace
