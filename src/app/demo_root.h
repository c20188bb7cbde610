// A device root to try the program on: two mail stores with a dozen messages
// of today and yesterday, SMS of today in the SMS log, and three rules that
// catch some of them.
#pragma once

#include <string>

#include "platform/clock.h"

namespace varnox {

// Fills root (made when missing) with the demo content; "today" is the day
// of clock. Content already there is kept and only what is missing is added,
// so a second call on the same root adds nothing. False with error set when
// the root, a store, the SMS log or the rules cannot be written.
bool MakeDemoRoot(const std::string& root, const Clock& clock, std::string& error);

}  // namespace varnox
