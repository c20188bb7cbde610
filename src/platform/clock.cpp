#include "platform/clock.h"

#include <cstdio>

namespace varnox {
namespace {

constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

}  // namespace

const Clock& DefaultClock() {
  static const SystemClock clock;
  return clock;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string LongDateText(const std::tm& local) {
  const int wday = (local.tm_wday % 7 + 7) % 7;
  const int mon = (local.tm_mon % 12 + 12) % 12;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %s %02d, %04d", kWeekdays[wday], kMonths[mon], local.tm_mday,
                local.tm_year + 1900);
  return buf;
}

std::string TimeText(const std::tm& local) {
  int hour = local.tm_hour % 12;
  if (hour == 0) hour = 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", hour, local.tm_min, local.tm_sec,
                local.tm_hour < 12 ? "AM" : "PM");
  return buf;
}

}  // namespace varnox
