#include "web/event_hub.h"

#include <nlohmann/json.hpp>

namespace varnox {
namespace {

// A stream that cannot keep up loses its oldest events rather than holding
// the program's memory; the browser reads the whole model on the next one.
constexpr std::size_t kMaxQueued = 1024;

std::string EventText(const char* name, const nlohmann::json& data) {
  return std::string("event: ") + name +
         "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
}

}  // namespace

struct EventHub::Stream {
  std::deque<std::string> queue;
  bool last = false;
};

EventHub::EventHub(std::size_t maxStreams, std::chrono::milliseconds coalesce)
    : maxStreams_(maxStreams), coalesce_(coalesce), coalescer_([this] { Coalesce(); }) {}

EventHub::~EventHub() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  coalescer_.join();
}

void EventHub::Push(const std::string& text, bool last) {
  for (const auto& s : streams_) {
    if (s->queue.size() >= kMaxQueued) s->queue.pop_front();
    s->queue.push_back(text);
    s->last = s->last || last;
  }
  changed_.notify_all();
}

void EventHub::FlushChanged() {
  if (pendingKeys_.empty()) return;
  Push(EventText("changed", {{"dialogs", pendingKeys_}}), false);
  pendingKeys_.clear();
}

void EventHub::Publish(const ModelEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  switch (event.kind) {
    case ModelEvent::Kind::kStatus:
      Push(EventText("status", {{"text", event.status}}), false);
      break;
    case ModelEvent::Kind::kChanged:
      if (pendingKeys_.empty()) flushAt_ = Clock::now() + coalesce_;
      pendingKeys_.insert(event.dialogs.begin(), event.dialogs.end());
      changed_.notify_all();
      break;
    case ModelEvent::Kind::kBye:
      FlushChanged();
      Push(EventText("bye", nlohmann::json::object()), true);
      ended_ = true;
      break;
  }
}

void EventHub::Coalesce() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (pendingKeys_.empty()) {
      changed_.wait(lock);
    } else if (Clock::now() >= flushAt_) {
      FlushChanged();
    } else {
      changed_.wait_until(lock, flushAt_);
    }
  }
}

std::shared_ptr<EventHub::Stream> EventHub::Subscribe() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_ || streams_.size() >= maxStreams_) return nullptr;
  streams_.push_back(std::make_shared<Stream>());
  return streams_.back();
}

void EventHub::Unsubscribe(const std::shared_ptr<Stream>& stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(streams_, stream);
  lastDisconnect_ = Clock::now();
  changed_.notify_all();
}

std::string EventHub::Take(Stream& stream, std::chrono::milliseconds wait, bool& last) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return !stream.queue.empty() || stopping_; });
  std::string text;
  for (const std::string& e : stream.queue) text += e;
  stream.queue.clear();
  last = stream.last || stopping_;
  return text;
}

std::size_t EventHub::Streams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return streams_.size();
}

EventHub::Clock::time_point EventHub::LastDisconnect() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastDisconnect_;
}

void EventHub::WaitForStreamsGone(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, wait, [this] { return streams_.empty(); });
}

}  // namespace varnox
