#pragma once
// How many processors this process may run on: its affinity mask (taskset,
// a cgroup's cpuset), not the machine's count.
#include <sched.h>

#include <thread>

namespace varnox {

inline unsigned UsableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

}  // namespace varnox
