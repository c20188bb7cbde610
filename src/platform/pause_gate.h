// Pausing and stopping a worker at safe points, and the sleeps between its
// steps. The scan waits here between stores, between rows and inside every
// sleep, so "paused" means it does no work on logs and rules; sleeps are
// interruptible, so pause and shutdown are prompt. Tests swap in a gate whose
// sleeps return at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace varnox {

class PauseGate {
 public:
  // sleeps false: every sleep returns at once (tests, one-shot runs).
  // scale multiplies every sleep (tests of the whole program shorten them).
  explicit PauseGate(bool sleeps = true, double scale = 1.0) : sleeps_(sleeps), scale_(scale) {}

  // Worker side. A safe point: waits while a pause is asked for. Returns
  // false when the worker is to stop.
  bool SafePoint();
  // Sleeps (unless sleeps are off), standing at a safe point all along.
  // Returns false when the worker is to stop.
  bool Sleep(std::chrono::milliseconds duration);
  // The worker starts and ends its work; a pause never waits for a worker
  // that is not running.
  void WorkerStarted();
  void WorkerEnded();

  // Controller side. Pause returns once the worker stands at a safe point (or
  // runs no more); one flag, not a counter: pausing twice needs one resume.
  void Pause();
  void Resume();
  bool Paused() const;
  void Stop();
  bool Stopping() const;
  bool Sleeps() const { return sleeps_; }

 private:
  const bool sleeps_;
  const double scale_;
  mutable std::mutex mutex_;  // guards: the flags below
  std::condition_variable changed_;
  bool pauseRequested_ = false;
  bool parked_ = false;
  bool running_ = false;
  bool stop_ = false;
};

}  // namespace varnox
