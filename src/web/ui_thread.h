// The one user-interface thread: dialog procedures run here, one after the
// other, as a phone's message loop would run them. HTTP handlers hand each
// command over and wait for it; a procedure that shows a message box waits
// for the answer, while the request that caused it answers at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "web/control_model.h"

namespace varnox {

// What the program's dialogs do; called on the user-interface thread only.
class DialogProcedures {
 public:
  virtual ~DialogProcedures() = default;
  // Command id of dialog key ("main", "120", ...); the request's control
  // states are already in the model. Not called for "messagebox".
  virtual void Command(const std::string& dialog, int id) = 0;
  // The selection of list control of dialog changed (already in the model).
  virtual void SelectionChanged(const std::string& dialog, int control) = 0;
  // A modal dialog whose browser has gone is closed as by Cancel.
  virtual void Abandoned(const std::string& dialog) { Command(dialog, 2); }
};

class UiThread {
 public:
  explicit UiThread(WindowModel& model);
  ~UiThread();  // runs what is queued, then ends the thread
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // Runs task on the user-interface thread and waits until it has ended or
  // has shown a message box that waits for its answer. False when the
  // thread has ended.
  bool Run(std::function<void()> task);
  // Queues task without waiting (workers that end their work through the
  // user-interface thread).
  void Post(std::function<void()> task);

  // On the user-interface thread: shows a message box and waits for its
  // answer (1 OK, 2 Cancel; 2 as well when the program ends).
  int MessageBox(const std::string& text, const std::string& caption,
                 std::vector<std::string> buttons = {"OK"});
  // From any thread: answers the open message box. False when none is open.
  bool Answer(int button);

  // Ends the thread: a waiting message box is answered Cancel, queued tasks
  // still run, later ones are refused.
  void Stop();
  bool OnUiThread() const;

 private:
  struct Task;
  void Loop();

  WindowModel& model_;
  std::mutex mutex_;  // guards: queue_, stopping_, the answer and the task states
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Task>> queue_;
  bool stopping_ = false;
  bool boxOpen_ = false;
  int answer_ = 0;
  std::shared_ptr<Task> current_;
  std::thread thread_;
};

}  // namespace varnox
