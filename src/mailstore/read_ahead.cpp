#include "mailstore/read_ahead.h"

#include <algorithm>
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
  if (secondThread && rows_.size() > 1) thread_ = std::thread([this] { Working(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  posted_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ReadAhead::PostReads() {
  const auto full = [this] {
    return next_ >= rows_.size() || jobs_.size() >= kAhead ||
           (aheadBytes_ >= kAheadBytes && !jobs_.empty());
  };
  if (full() || (jobs_.size() > kAhead / 2 && aheadBytes_ > kAheadBytes / 2)) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (; !full(); ++next_) {
      auto job = std::make_unique<Job>();
      job->row = rows_[next_];
      aheadBytes_ += std::max<std::int64_t>(job->row->size, 0);
      toRead_.push_back(job.get());
      jobs_.push_back(std::move(job));
    }
  }
  posted_.notify_one();
}

void ReadAhead::Decide(bool wait) {
  bool posted = false;
  for (auto& job : jobs_) {
    if (job->decided) continue;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (wait && job == jobs_.front())
        done_.wait(lock, [&] { return job->stage != Stage::kToRead; });
      if (job->stage == Stage::kToRead) break;  // in order: the rest later
    }
    // A logged message is checked from its logged tokens: no extraction.
    // Rows before it may still log the same text; FinishRow looks again.
    const RowText& t = job->text;
    job->decided = true;
    if (!t.read || t.fault || log_.MAPIHolds(store_.name, t.m.mimeText, t.m.fingerprint)) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    job->stage = Stage::kToExtract;
    toExtract_.push_back(job.get());
    posted = true;
  }
  if (posted) posted_.notify_one();
}

RowText ReadAhead::Take(std::size_t i) {
  if (!thread_.joinable()) {
    RowText text;
    processor_.ReadRow(store_, *rows_[i], text);
    return text;
  }
  PostReads();
  Decide(true);
  std::unique_ptr<Job> job = std::move(jobs_.front());
  jobs_.pop_front();
  aheadBytes_ -= std::max<std::int64_t>(job->row->size, 0);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return job->stage == Stage::kRead || job->stage == Stage::kDone; });
  }
  return std::move(job->text);
}

void ReadAhead::Working() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    posted_.wait(lock, [this] { return stop_ || !toRead_.empty() || !toExtract_.empty(); });
    if (stop_) return;
    // Extraction first: those rows come before the ones still to be read.
    const bool extract = !toExtract_.empty();
    std::deque<Job*>& queue = extract ? toExtract_ : toRead_;
    Job* job = queue.front();
    queue.pop_front();
    lock.unlock();
    if (extract) {
      try {
        MessageProcessor::Extract(job->text, pause_);
      } catch (...) {
        // Left to FinishRow, which extracts (and reports) on the scan thread.
        job->text.extracted = false;
      }
    } else {
      processor_.ReadRow(store_, *job->row, job->text);
    }
    lock.lock();
    job->stage = extract ? Stage::kDone : Stage::kRead;
    done_.notify_all();
  }
}

}  // namespace varnox
