#pragma once
// The server's workers: a thread per connection, as the HTTP library works,
// made as connections come rather than all at start, up to a bound. A
// browser keeps its connection (and so a thread) between requests, and an
// event stream holds one for its life: a fixed small pool would leave later
// clients waiting for earlier ones to go idle.
#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varnox {

class TaskPool : public httplib::TaskQueue {
 public:
  explicit TaskPool(std::size_t maxThreads) : max_(maxThreads) {}
  ~TaskPool() override { shutdown(); }

  // Runs fn on an idle thread, on a new one while fewer than the bound run,
  // else once a thread is free.
  void enqueue(std::function<void()> fn) override;
  // Runs what is queued, then joins every thread.
  void shutdown() override;

  std::size_t Threads();  // threads made so far

 private:
  void Work();

  const std::size_t max_;
  std::mutex mutex_;  // guards jobs_, threads_, idle_ and stop_
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;  // threads waiting for a job
  bool stop_ = false;
};

}  // namespace varnox
