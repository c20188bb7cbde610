// The model's events as Server-Sent Events for every connected stream.
// Status lines go out at once; "changed" keys are collected for a short
// while and sent as one event, so a list reload that touches the model many
// times costs the browser one fetch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "web/control_model.h"

namespace varnox {

class EventHub {
 public:
  using Clock = std::chrono::steady_clock;
  struct Stream;

  explicit EventHub(std::size_t maxStreams,
                    std::chrono::milliseconds coalesce = std::chrono::milliseconds(50));
  ~EventHub();
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // The model's listener.
  void Publish(const ModelEvent& event);

  // A new stream; null when the hub is full or the program ends.
  std::shared_ptr<Stream> Subscribe();
  void Unsubscribe(const std::shared_ptr<Stream>& stream);
  // Waits up to wait for events of stream and takes them as text; last
  // tells that "bye" is among them and the stream ends.
  std::string Take(Stream& stream, std::chrono::milliseconds wait, bool& last);

  std::size_t Streams() const;
  // When the last stream went away; the clock's epoch when none ever did.
  Clock::time_point LastDisconnect() const;
  // Waits until every stream has ended, up to wait.
  void WaitForStreamsGone(std::chrono::milliseconds wait);

 private:
  void Push(const std::string& text, bool last);  // with mutex_ held
  void FlushChanged();                            // with mutex_ held
  void Coalesce();

  const std::size_t maxStreams_;
  const std::chrono::milliseconds coalesce_;
  mutable std::mutex mutex_;  // guards: everything below and every Stream
  std::condition_variable changed_;
  std::vector<std::shared_ptr<Stream>> streams_;
  std::set<std::string> pendingKeys_;
  Clock::time_point flushAt_;
  Clock::time_point lastDisconnect_{};
  bool ended_ = false;     // "bye" was sent
  bool stopping_ = false;  // the hub is being destroyed
  std::thread coalescer_;
};

}  // namespace varnox
