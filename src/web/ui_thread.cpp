#include "web/ui_thread.h"

namespace varnox {

struct UiThread::Task {
  std::function<void()> run;
  bool done = false;
};

UiThread::UiThread(WindowModel& model) : model_(model), thread_([this] { Loop(); }) {}

UiThread::~UiThread() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void UiThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything queued has run
    current_ = queue_.front();
    queue_.pop_front();
    lock.unlock();
    current_->run();
    lock.lock();
    current_->done = true;
    current_.reset();
    changed_.notify_all();
  }
}

bool UiThread::Run(std::function<void()> task) {
  auto t = std::make_shared<Task>();
  t->run = std::move(task);
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return false;
  queue_.push_back(t);
  changed_.notify_all();
  // A box the task shows ends the wait: the request answers with the box.
  changed_.wait(lock, [&] { return t->done || (current_ == t && boxOpen_); });
  return true;
}

void UiThread::Post(std::function<void()> task) {
  auto t = std::make_shared<Task>();
  t->run = std::move(task);
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  queue_.push_back(std::move(t));
  changed_.notify_all();
}

int UiThread::MessageBox(const std::string& text, const std::string& caption,
                         std::vector<std::string> buttons) {
  model_.ShowMessageBox({text, caption, std::move(buttons)});
  int answer = 2;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    boxOpen_ = true;
    answer_ = 0;
    changed_.notify_all();
    changed_.wait(lock, [this] { return answer_ != 0 || stopping_; });
    if (answer_ != 0) answer = answer_;
    boxOpen_ = false;
  }
  model_.CloseMessageBox();
  return answer;
}

bool UiThread::Answer(int button) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!boxOpen_ || answer_ != 0) return false;
  answer_ = button;
  const std::shared_ptr<Task> task = current_;
  changed_.notify_all();
  // The procedure goes on: answer once it has ended or shows its next box.
  changed_.wait(lock,
                [&] { return !task || task->done || (boxOpen_ && answer_ == 0) || stopping_; });
  return true;
}

void UiThread::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

bool UiThread::OnUiThread() const {
  return std::this_thread::get_id() == thread_.get_id();
}

}  // namespace varnox
