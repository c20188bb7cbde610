// The scan's look ahead: the rows of an inbox are read a few rows before
// their turn on the scan thread, and the text of each one its log does not
// hold yet is extracted on a second thread while the scan thread logs and
// files the rows before it. Logs, rules and message files are touched by the
// scan thread only, in the rows' order, so every result is what one thread
// gives; a paused scan leaves at most the extraction of the rows read ahead.
#pragma once
#include <condition_variable>
#include <cstddef>
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
  ~ReadAhead();  // waits for the extraction under way
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  std::size_t size() const { return rows_.size(); }
  const MailRow& Row(std::size_t i) const { return *rows_[i]; }
  // Row i read (and extracted, when that was done ahead), to be finished
  // next; reads the rows after it. Rows are taken in order, each once.
  RowText Take(std::size_t i);

 private:
  struct Job {
    RowText text;
    bool posted = false;  // handed to the second thread
    bool done = false;    // its extraction is over
  };
  void Extracting();

  // Rows read ahead of the one being finished: enough to keep the second
  // thread busy while the scan thread logs; few, for memory.
  static constexpr std::size_t kAhead = 8;

  MessageProcessor& processor_;
  MessageLog& log_;
  StoreRecord& store_;
  const std::vector<const MailRow*> rows_;
  const ExtractPause pause_;
  std::deque<std::unique_ptr<Job>> read_;  // rows next_ - read_.size() .. next_ - 1
  std::size_t next_ = 0;                   // the next row to read

  std::mutex mutex_;  // guards queue_, stop_ and every Job's done
  std::condition_variable posted_, done_;
  std::deque<Job*> queue_;  // posted, not yet taken by the second thread
  bool stop_ = false;
  std::thread thread_;  // the second thread; not started without one
};

}  // namespace varnox
