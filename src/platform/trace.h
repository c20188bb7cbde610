// The debug trace sink. Lines are discarded unless tracing was switched on
// (--trace or VARNOX_TRACE=1), then they go to standard error with a time.
#pragma once

#include <string_view>

namespace varnox {

void SetTraceEnabled(bool on);
// Cheap check so callers can skip formatting lines nobody will see.
bool TraceEnabled();
void Trace(std::string_view line);

}  // namespace varnox
