#include "mailstore/read_ahead.h"

#include <utility>

namespace varnox {

ReadAhead::ReadAhead(MessageProcessor& processor, MessageLog& log, StoreRecord& store,
                     std::vector<const MailRow*> rows, bool secondThread, ExtractPause pause)
    : processor_(processor),
      log_(log),
      store_(store),
      rows_(std::move(rows)),
      pause_(std::move(pause)) {
  // One row gains nothing from a second thread.
  if (secondThread && rows_.size() > 1) thread_ = std::thread([this] { Extracting(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  posted_.notify_all();
  if (thread_.joinable()) thread_.join();
}

RowText ReadAhead::Take(std::size_t i) {
  const std::size_t last = thread_.joinable() ? i + kAhead : i;
  for (; next_ <= last && next_ < rows_.size(); ++next_) {
    auto job = std::make_unique<Job>();
    processor_.ReadRow(store_, *rows_[next_], job->text);
    // A logged message is checked from its logged tokens: no extraction.
    // Rows before it may still log the same text; FinishRow looks again.
    const RowText& t = job->text;
    if (thread_.joinable() && t.read && !t.fault && !log_.MAPIHolds(store_.name, t.m.mimeText)) {
      job->posted = true;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back(job.get());
      }
      posted_.notify_one();
    }
    read_.push_back(std::move(job));
  }
  std::unique_ptr<Job> job = std::move(read_.front());
  read_.pop_front();
  if (job->posted) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return job->done; });
  }
  return std::move(job->text);
}

void ReadAhead::Extracting() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    posted_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Job* job = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      MessageProcessor::Extract(job->text, pause_);
    } catch (...) {
      // Left to FinishRow, which extracts (and reports) on the scan thread.
      job->text.extracted = false;
    }
    lock.lock();
    job->done = true;
    done_.notify_all();
  }
}

}  // namespace varnox
