// Local time and its texts. Everything that needs "now" takes a Clock, so
// tests can fix the date.
#pragma once

#include <ctime>
#include <string>

namespace varnox {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  std::time_t Now() const override { return std::time(nullptr); }
};

// A clock that stands still (tests).
class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::time_t t) : t_(t) {}
  std::time_t Now() const override { return t_; }
  void Set(std::time_t t) { t_ = t; }

 private:
  std::time_t t_;
};

// A time stamp as nanoseconds since the epoch.
constexpr long long Nanoseconds(const timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

// The process's system clock.
const Clock& DefaultClock();

// Broken-down local time (TZ database) of t.
std::tm LocalTime(std::time_t t);

// The one long-date formatter, locale-independent: "Sunday, December 06, 2026".
// Days are selected by equality of this text, so every writer uses it.
std::string LongDateText(const std::tm& local);

// The time formatter: "6:03:57 PM".
std::string TimeText(const std::tm& local);

}  // namespace varnox
