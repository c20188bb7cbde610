// The message log under load: a log of 100,000 messages of 2-4 KB spread over
// 30 days, built once with MAPIAdd in a temporary folder; then the rate of
// adding new messages, of status updates, of look-ups, and the time to load
// one day's list.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "storage/data_locations.h"
#include "storage/message_log.h"
#include "support/temp_root.h"

namespace {

using namespace varnox;

constexpr int kRows = 100000;
constexpr int kDays = 30;
constexpr std::time_t kNow = 1765000000;
constexpr char kStore[] = "Mail";

const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> w;
    const char* base[] = {"offer",   "account",  "meeting", "invoice", "free",     "money",
                          "project", "schedule", "report",  "click",   "discount", "update",
                          "please",  "attached", "review",  "winner",  "urgent",   "security",
                          "team",    "tomorrow", "price",   "order",   "delivery", "password",
                          "Monday",  "Friday",   "thanks",  "regards", "limited",  "exclusive"};
    for (const char* b : base) {
      w.emplace_back(b);
      for (const char* s : {"s", "ed", "ing", "er"}) w.push_back(std::string(b) + s);
    }
    return w;
  }();
  return words;
}

// A mail of 2-4 KB: headers that make it unique, then paragraphs of words.
struct Message {
  std::string raw, lower, plain, tokens, subject, sender;
};

void MakeMessage(long n, std::mt19937& rng, Message& m) {
  const auto& words = Words();
  std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
  std::uniform_int_distribution<std::size_t> size(2048, 4096);
  m.sender =
      "Sender " + std::to_string(n % 997) + " <user" + std::to_string(n % 997) + "@example.org>";
  m.subject = words[pick(rng)] + " " + words[pick(rng)] + " " + std::to_string(n);
  m.raw = "From: " + m.sender + "\r\nTo: me@example.net\r\nSubject: " + m.subject +
          "\r\nMessage-ID: <" + std::to_string(n) + ".bench@example.org>\r\n" +
          "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
  const std::size_t headerSize = m.raw.size();
  const std::size_t target = size(rng);
  std::set<std::string> distinct;
  for (int w = 0; m.raw.size() < target; ++w) {
    const std::string& word = words[pick(rng)];
    m.raw += word;
    m.raw += (w % 12 == 11) ? ".\r\n" : " ";
    if (distinct.size() < 80) distinct.insert(word);
  }
  m.lower = m.raw;
  std::transform(m.lower.begin(), m.lower.end(), m.lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  m.plain = m.raw.substr(headerSize);
  m.tokens.clear();
  for (const auto& t : distinct) m.tokens += t + " ";
}

// The 100,000-message log, built on first use and removed at exit.
class BenchLog {
 public:
  BenchLog() : clock_(kNow), locations_(root_.path(), clock_), log_(locations_) {
    CreateDirectoryChain(root_.path() + "/Varnox/dba");
    ExecOnce(root_.path() + "/Varnox/dba/Spam_0.db",
             "CREATE TABLE Spam (Id INT UNIQUE, Sender TEXT, Message TEXT, Tokens TEXT, "
             "ReceivedDate TEXT, ReceivedTime TEXT, Status INT);");
    std::string path, table;
    locations_.ResolveSmsLogPath(path, table);
    for (int d = 0; d < kDays; ++d) days_.push_back(locations_.DayText(d));
    log_.MAPICreateLog(kStore);

    std::mt19937 rng(1);
    Message m;
    double addSeconds = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
      MakeMessage(next_, rng, m);
      const auto t0 = std::chrono::steady_clock::now();
      Add(m, next_);
      addSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      ++next_;
    }
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto bytes = std::filesystem::file_size(root_.path() + "/Varnox/dba/Mail.db");
    std::printf(
        "message log: %d rows over %d days (%.0f MB) built with MAPIAdd in %.1f s, "
        "%.0f MAPIAdd/s (%.0f/s with message generation)\n",
        log_.MAPIMaxId(kStore), kDays, bytes / 1e6, total, kRows / addSeconds, kRows / total);
  }
  ~BenchLog() { std::printf("message log: %d rows at the end\n", log_.MAPIMaxId(kStore)); }

  bool Add(const Message& m, long n) {
    int id = 0;
    return log_.MAPIAdd(kStore, m.sender, m.sender, m.subject, m.raw, m.lower, m.plain, m.tokens,
                        n % 7 == 0 ? 1 : 0, days_[static_cast<std::size_t>(n % kDays)],
                        "6:03:57 PM", id);
  }

  MessageLog& log() { return log_; }
  long NextNumber() { return next_++; }

 private:
  // Declared first so that it is removed after the connections have closed.
  testsupport::TempRoot root_;
  FixedClock clock_;
  DataLocations locations_;
  MessageLog log_;
  std::vector<std::string> days_;
  long next_ = 0;
};

BenchLog& Log() {
  static BenchLog log;
  return log;
}

void BM_MapiAddNew(benchmark::State& state) {
  BenchLog& b = Log();
  std::mt19937 rng(2);
  // Messages are made in batches outside the timed part.
  std::vector<Message> batch(500);
  std::vector<long> numbers(batch.size());
  std::size_t used = batch.size();
  long failed = 0;
  for (auto _ : state) {
    if (used == batch.size()) {
      state.PauseTiming();
      for (std::size_t i = 0; i < batch.size(); ++i) {
        numbers[i] = b.NextNumber();
        MakeMessage(numbers[i], rng, batch[i]);
      }
      used = 0;
      state.ResumeTiming();
    }
    if (!b.Add(batch[used], numbers[used])) ++failed;
    ++used;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["rows"] = b.log().MAPIMaxId(kStore);
}
BENCHMARK(BM_MapiAddNew)->UseRealTime()->MinTime(1.0);

void BM_MapiUpdate(benchmark::State& state) {
  BenchLog& b = Log();
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> id(1, kRows);
  long failed = 0;
  for (auto _ : state) {
    if (!b.log().MAPIUpdate(kStore, id(rng), static_cast<int>(state.iterations() & 1))) ++failed;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_MapiUpdate)->UseRealTime()->MinTime(1.0);

void BM_MapiExists(benchmark::State& state) {
  BenchLog& b = Log();
  std::mt19937 rng(1);  // the build's seed: the first bodies are logged ones
  std::vector<std::string> bodies;
  Message m;
  for (long n = 0; n < 1000; ++n) {
    MakeMessage(n, rng, m);
    bodies.push_back(m.raw);
  }
  long found = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    int id = 0, status = 0;
    std::string tokens;
    if (b.log().MAPIExists(kStore, bodies[i++ % bodies.size()], id, status, tokens)) ++found;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MapiExists)->UseRealTime();

// One day holds about 3,300 messages; the list keeps 256 of them. With only
// the spam flag (one message in seven) the load walks further to fill it.
void BM_LoadMapiDay(benchmark::State& state) {
  BenchLog& b = Log();
  const bool spamOnly = state.range(0) != 0;
  std::string day;
  int entries = 0;
  for (auto _ : state) {
    b.log().LoadMAPI(kStore, 5, 1, spamOnly ? 0 : 1, day);
    entries = b.log().GetLogEntryCount();
  }
  state.counters["entries"] = entries;
  state.SetLabel(spamOnly ? "spam only" : "spam and normal");
}
BENCHMARK(BM_LoadMapiDay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
