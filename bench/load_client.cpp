// Load on the running program's window: N clients on loopback, each a loop
// of what a browser does (the model, the page and its assets, list
// selections and the message page, day changes), with a think time between
// requests; every tenth client also holds an event stream open. Prints per
// kind of request the count, the refusals and the p50/p99/max latency, and
// exits 1 when any answer was neither 2xx nor an expected 409.
//   varnox_load_client HOST PORT TOKEN [--clients N] [--seconds S]
//     [--think-ms T] [--days D] [--select-below K]
// Selections pick one of the first K messages of the list (default 150), and
// day changes stay within the last D days (default 7), so that a list changed
// by another client meanwhile still holds the line: the root must have at
// least K normal messages on each of the last D + 7 days (a "+" that lands
// while another client's change is on its way may go a little further).
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host;
  int port = 0;
  std::string token;
  int clients = 200;
  int seconds = 60;
  int thinkMs = 250;
  int days = 7;
  int selectBelow = 150;
};

enum Kind { kWindow, kAssets, kPage, kSelect, kDay, kKinds };
const char* const kKindNames[kKinds] = {"GET /api/window", "GET / and assets", "GET /page",
                                        "POST /api/select", "POST /api/command (day)"};

// One client's figures, merged after the run.
struct Tally {
  std::vector<double> ms[kKinds];
  long refused[kKinds] = {};
  long conflicts = 0;  // 409: a modal dialog or message box was open
};

struct Shared {
  std::mutex mutex;  // guards tallies, firstErrors and events
  std::vector<Tally> tallies;
  std::vector<std::string> firstErrors;
  std::map<std::string, long> events;
};

// The viewer's state as this client last saw it.
struct Seen {
  int day = 0;
  int lines = 0;
};

void ReadSeen(const std::string& body, Seen& seen) {
  const auto j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded()) return;
  const auto& viewer = j["dialogs"]["120"]["controls"];
  if (viewer.is_null()) return;
  seen.lines = static_cast<int>(viewer["1010"]["lines"].size());
  seen.day = std::atoi(viewer["1022"]["text"].get<std::string>().c_str());
}

void Client(const Options& o, int index, const Clock::time_point end, Shared& shared) {
  Tally tally;
  std::mt19937 random(static_cast<unsigned>(index) * 7919u + 17u);
  httplib::Client http(o.host, o.port);
  http.set_keep_alive(true);
  http.set_connection_timeout(10);
  http.set_read_timeout(30);
  const httplib::Headers auth = {{"Authorization", "Bearer " + o.token}};
  Seen seen;
  bool pageWritten = false;
  auto record = [&](Kind kind, Clock::time_point t0, const httplib::Result& r,
                    const std::string& what) {
    tally.ms[kind].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    const int status = r ? r->status : 0;
    if (status >= 200 && status < 300) return true;
    if (status == 409) {
      ++tally.conflicts;
      return false;
    }
    ++tally.refused[kind];
    std::lock_guard<std::mutex> lock(shared.mutex);  // guards firstErrors
    if (shared.firstErrors.size() < 10)
      shared.firstErrors.push_back(
          what + ": " +
          (r ? std::to_string(status) + " " + r->body : httplib::to_string(r.error())));
    return false;
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));  // a staggered start
  while (Clock::now() < end) {
    const unsigned pick = random() % 100;
    const auto t0 = Clock::now();
    if (pick < 40) {
      auto r = http.Get("/api/window", auth);
      if (record(kWindow, t0, r, "GET /api/window")) ReadSeen(r->body, seen);
    } else if (pick < 52) {
      static const char* const kPaths[] = {"/", "/assets/app.css", "/assets/app.js"};
      const char* path = kPaths[pick % 3];
      auto r = http.Get(path, auth);
      record(kAssets, t0, r, std::string("GET ") + path);
    } else if (pick < 60 && pageWritten) {
      auto r = http.Get("/page", auth);
      record(kPage, t0, r, "GET /page");
    } else if (pick < 85) {
      const int messages = std::min(o.selectBelow, seen.lines / 4);
      const int line = messages > 0 ? 4 * static_cast<int>(random() % messages) : -1;
      const nlohmann::json body = {{"dialog", "120"}, {"control", 1010}, {"index", line}};
      auto r = http.Post("/api/select", auth, body.dump(), "application/json");
      if (record(kSelect, t0, r, "POST /api/select " + body.dump())) {
        ReadSeen(r->body, seen);
        pageWritten = pageWritten || line >= 0;
      }
    } else {
      // The day field typed and "Update", or the "+" and "-" buttons.
      nlohmann::json body = {{"dialog", "120"}};
      const unsigned how = random() % 3;
      if (how == 0 || (how == 1 && seen.day + 1 >= o.days)) {
        body["id"] = 1018;
        body["controls"] = {{"1022", {{"text", std::to_string(random() % o.days)}}}};
      } else {
        body["id"] = how == 1 ? 1027 : 1029;
      }
      auto r = http.Post("/api/command", auth, body.dump(), "application/json");
      if (record(kDay, t0, r, "POST /api/command " + body.dump())) ReadSeen(r->body, seen);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % (2 * o.thinkMs + 1)));
  }
  std::lock_guard<std::mutex> lock(shared.mutex);  // guards tallies
  shared.tallies.push_back(std::move(tally));
}

// Holds /api/events open until the end, counting the events by name; a
// stream that ends early is opened again.
void Stream(const Options& o, const Clock::time_point end, Shared& shared, long& streamErrors) {
  std::map<std::string, long> seen;
  const httplib::Headers auth = {{"Authorization", "Bearer " + o.token}};
  while (Clock::now() < end) {
    httplib::Client http(o.host, o.port);
    http.set_read_timeout(20);  // the server pings every 15 s
    std::string pending;
    auto r = http.Get(
        "/api/events", auth, [&](const httplib::Response& res) { return res.status == 200; },
        [&](const char* data, std::size_t size) {
          pending.append(data, size);
          for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line.rfind("event: ", 0) == 0) ++seen[line.substr(7)];
          }
          return Clock::now() < end;
        });
    // Ended by this side at the end of the run (canceled), else a fault.
    if (Clock::now() < end && (!r || r->status != 200)) {
      ++streamErrors;
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  std::lock_guard<std::mutex> lock(shared.mutex);  // guards events
  for (const auto& [name, n] : seen) shared.events[name] += n;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()))];
}

bool ParseArgs(int argc, char** argv, Options& o) {
  if (argc < 4) return false;
  o.host = argv[1];
  o.port = std::atoi(argv[2]);
  o.token = argv[3];
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0) return false;
    if (name == "--clients")
      o.clients = value;
    else if (name == "--seconds")
      o.seconds = value;
    else if (name == "--think-ms")
      o.thinkMs = value;
    else if (name == "--days")
      o.days = value;
    else if (name == "--select-below")
      o.selectBelow = value;
    else
      return false;
  }
  return (argc - 4) % 2 == 0 && o.port > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: %s HOST PORT TOKEN [--clients N] [--seconds S] [--think-ms T] [--days D] "
                 "[--select-below K]\n",
                 argv[0]);
    return 2;
  }
  Shared shared;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(o.seconds);
  std::vector<long> streamErrors(static_cast<std::size_t>(o.clients / 10 + 1), 0);
  std::vector<std::thread> clients, streams;
  for (int c = 0; c < o.clients; ++c) {
    clients.emplace_back(Client, std::cref(o), c, end, std::ref(shared));
    if (c % 10 == 0)
      streams.emplace_back(Stream, std::cref(o), end, std::ref(shared),
                           std::ref(streamErrors[static_cast<std::size_t>(c / 10)]));
  }
  for (auto& t : clients) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  // A stream notices the end at its next event or ping (15 s at most).
  for (auto& t : streams) t.join();

  std::vector<double> all;
  long refused = 0, conflicts = 0;
  std::printf("%-26s %9s %7s %9s %9s %9s\n", "request", "count", "errors", "p50 ms", "p99 ms",
              "max ms");
  for (int k = 0; k < kKinds; ++k) {
    std::vector<double> ms;
    long bad = 0;
    for (const auto& t : shared.tallies) {
      ms.insert(ms.end(), t.ms[k].begin(), t.ms[k].end());
      bad += t.refused[k];
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-26s %9zu %7ld %9.1f %9.1f %9.1f\n", kKindNames[k], ms.size(), bad,
                Percentile(ms, 0.5), Percentile(ms, 0.99), ms.empty() ? 0.0 : ms.back());
    all.insert(all.end(), ms.begin(), ms.end());
    refused += bad;
  }
  for (const auto& t : shared.tallies) conflicts += t.conflicts;
  std::sort(all.begin(), all.end());
  long streamFaults = 0;
  for (long n : streamErrors) streamFaults += n;
  refused += streamFaults;
  std::printf("%-26s %9zu %7ld %9.1f %9.1f %9.1f\n", "all", all.size(), refused,
              Percentile(all, 0.5), Percentile(all, 0.99), all.empty() ? 0.0 : all.back());
  std::printf("event streams: %d held, %ld failed; events:", (o.clients + 9) / 10, streamFaults);
  for (const auto& [name, n] : shared.events) std::printf(" %s %ld", name.c_str(), n);
  std::printf("\n409 (a dialog or box open, expected): %ld\n", conflicts);
  for (const auto& e : shared.firstErrors) std::printf("error: %.200s\n", e.c_str());
  // One line for scripts.
  std::printf(
      "summary: clients=%d seconds=%.0f requests=%zu rate=%.0f errors=%ld p50=%.1f "
      "p99=%.1f max=%.1f\n",
      o.clients, elapsed, all.size(), all.size() / elapsed, refused, Percentile(all, 0.5),
      Percentile(all, 0.99), all.empty() ? 0.0 : all.back());
  return refused == 0 ? 0 : 1;
}
