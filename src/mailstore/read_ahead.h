// The scan's look ahead: the rows of an inbox are read (and their texts'
// fingerprints made) a few rows before their turn on a second thread, and
// the text of each one its log does not hold yet is extracted there too,
// while the scan thread logs and files the rows before it. Logs and rules
// are touched, and message files moved, by the scan thread only, in the
// rows' order, so every result is what one thread gives; a paused scan
// leaves at most the reading and extraction of the rows read ahead.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mailstore/process.h"

namespace varnox {

class ReadAhead {
 public:
  // rows are handed over in this order. Without a second thread each row is
  // read at its turn and extracted by FinishRow, as ProcessMessage does.
  ReadAhead(MessageProcessor& processor, MessageLog& log, StoreRecord& store,
            std::vector<const MailRow*> rows, bool secondThread, ExtractPause pause);
  ~ReadAhead();  // waits for the work under way
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  std::size_t size() const { return rows_.size(); }
  const MailRow& Row(std::size_t i) const { return *rows_[i]; }
  // Row i read (and extracted, when that was done ahead), to be finished
  // next. Rows are taken in order, each once.
  RowText Take(std::size_t i);

 private:
  enum class Stage { kToRead, kRead, kToExtract, kDone };
  struct Job {
    const MailRow* row = nullptr;
    RowText text;
    Stage stage = Stage::kToRead;  // guarded by mutex_
    bool decided = false;          // whether to extract it ahead (scan thread only)
  };
  void Working();
  // Posts rows for reading up to the window's limits (scan thread).
  void PostReads();
  // Decides the extraction of the rows read so far, in order; waits for the
  // first one to be read when wait is set (scan thread).
  void Decide(bool wait);

  // Rows read ahead of the one being finished, and their bytes: enough to
  // keep the second thread busy while the scan thread commits a batch and
  // files its spam; bounded, for memory. They are posted half a window at a
  // time, so the second thread is woken seldom.
  static constexpr std::size_t kAhead = 128;
  static constexpr std::int64_t kAheadBytes = 8 << 20;

  MessageProcessor& processor_;
  MessageLog& log_;
  StoreRecord& store_;
  const std::vector<const MailRow*> rows_;
  const ExtractPause pause_;
  std::deque<std::unique_ptr<Job>> jobs_;  // rows next_ - jobs_.size() .. next_ - 1
  std::size_t next_ = 0;                   // the next row to post
  std::int64_t aheadBytes_ = 0;            // the file sizes of the rows in jobs_

  std::mutex mutex_;  // guards both queues, stop_ and every Job's stage
  std::condition_variable posted_, done_;
  std::deque<Job*> toRead_, toExtract_;
  bool stop_ = false;
  std::thread thread_;  // the second thread; not started without one
};

}  // namespace varnox
