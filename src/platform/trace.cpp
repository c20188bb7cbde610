#include "platform/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace varnox {
namespace {

std::atomic<int> g_traceState{-1};  // -1: not yet read from the environment
std::mutex g_traceMutex;            // guards: interleaving of trace lines on stderr

bool FromEnvironment() {
  const char* v = std::getenv("VARNOX_TRACE");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

}  // namespace

void SetTraceEnabled(bool on) {
  g_traceState.store(on ? 1 : 0);
}

bool TraceEnabled() {
  int s = g_traceState.load(std::memory_order_relaxed);
  if (s < 0) {
    s = FromEnvironment() ? 1 : 0;
    g_traceState.store(s);
  }
  return s == 1;
}

void Trace(std::string_view line) {
  if (!TraceEnabled()) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
  std::lock_guard<std::mutex> lock(g_traceMutex);
  std::fprintf(stderr, "%s.%03d %.*s\n", stamp, static_cast<int>(ms), static_cast<int>(line.size()),
               line.data());
}

}  // namespace varnox
