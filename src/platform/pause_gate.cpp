#include "platform/pause_gate.h"

namespace varnox {

bool PauseGate::SafePoint() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (pauseRequested_ && !stop_) {
    parked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !pauseRequested_ || stop_; });
    parked_ = false;
  }
  return !stop_;
}

bool PauseGate::Sleep(std::chrono::milliseconds duration) {
  if (!SafePoint()) return false;
  if (!sleeps_) return true;
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::milliseconds>(duration * scale_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stop_) return false;
    if (pauseRequested_) {
      parked_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !pauseRequested_ || stop_; });
      parked_ = false;
      continue;
    }
    if (changed_.wait_until(lock, until) == std::cv_status::timeout) {
      // A pause asked for at the last moment is still honoured here.
      if (pauseRequested_ && !stop_) continue;
      return !stop_;
    }
  }
}

void PauseGate::WorkerStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = true;
}

void PauseGate::WorkerEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  changed_.notify_all();
}

void PauseGate::Pause() {
  std::unique_lock<std::mutex> lock(mutex_);
  pauseRequested_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return parked_ || !running_ || stop_; });
}

void PauseGate::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  pauseRequested_ = false;
  changed_.notify_all();
}

bool PauseGate::Paused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pauseRequested_;
}

void PauseGate::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  changed_.notify_all();
}

bool PauseGate::Stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

}  // namespace varnox
