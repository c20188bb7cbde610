#include "web/task_pool.h"

#include <utility>

namespace varnox {

void TaskPool::enqueue(std::function<void()> fn) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (stop_) return;
  jobs_.push_back(std::move(fn));
  // Idle threads take the queued jobs; one more is made only when they are
  // all taken. Threads stay once made: a quiet program keeps what its
  // busiest moment needed, at a few pages of stack each.
  if (idle_ >= jobs_.size() || threads_.size() >= max_) {
    wake_.notify_one();
    return;
  }
  threads_.emplace_back([this] { Work(); });
}

void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    --idle_;
    if (jobs_.empty()) return;  // stopped, nothing left
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

void TaskPool::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stop_) return;
    stop_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (std::thread& t : threads) t.join();
}

std::size_t TaskPool::Threads() {
  std::lock_guard<std::mutex> guard(mutex_);
  return threads_.size();
}

}  // namespace varnox
