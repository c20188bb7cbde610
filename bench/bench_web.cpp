// The window server's answer to a command: a keep-alive client (as a
// browser: no Nagle) posts a viewer command with its field states while 50
// other clients each fetch the whole model once a second. Reports the
// round trip's median and 99th percentile.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "web/server.h"

namespace {

using namespace varnox;

class Procedures : public DialogProcedures {
 public:
  explicit Procedures(WindowModel& model) : model_(model) {}
  void Command(const std::string& dialog, int id) override {
    model_.SetText(dialog, 1037, std::to_string(id + model_.Text(dialog, 1022).size()));
  }
  void SelectionChanged(const std::string&, int) override {}

 private:
  WindowModel& model_;
};

void BM_CommandRoundTrip(benchmark::State& state) {
  WindowModel model;
  UiThread ui(model);
  Procedures procedures(model);
  Dialog viewer;
  viewer.key = "120";
  viewer.Add(1022, ControlKind::kEdit, "0");
  viewer.Add(1037, ControlKind::kField, "0");
  // A day's list as the viewer shows it: 768 messages of four lines.
  viewer.Add(1010, ControlKind::kList).lines.assign(4 * 768, std::string(64, 'x'));
  model.Open(std::move(viewer));
  ServerOptions options;
  options.port = 0;
  WebServer server(model, ui, procedures, options);
  std::string error;
  if (!server.Start(error)) return state.SkipWithError(error.c_str());
  const httplib::Headers auth = {{"Authorization", "Bearer " + server.Token()}};

  std::atomic<bool> done{false};
  std::vector<std::thread> pollers;
  for (int i = 0; i < 50; ++i) {
    pollers.emplace_back([&] {
      httplib::Client cli("127.0.0.1", server.Port());
      cli.set_keep_alive(true);
      while (!done) {
        cli.Get("/api/window", auth);
        for (int t = 0; t < 10 && !done; ++t)
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  httplib::Client cli("127.0.0.1", server.Port());
  cli.set_keep_alive(true);
  cli.set_tcp_nodelay(true);
  std::vector<double> ms;
  const std::string body = R"({"dialog":"120","id":1,"controls":{"1022":{"text":"3"}}})";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto res = cli.Post("/api/command", auth, body, "application/json");
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    if (!res || res->status != 200) state.SkipWithError("command refused");
  }
  done = true;
  for (auto& t : pollers) t.join();
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
  state.counters["model_KB"] = model.ToJson().dump().size() / 1024.0;
}
BENCHMARK(BM_CommandRoundTrip)->Iterations(3000)->Unit(benchmark::kMillisecond);

}  // namespace
