#include "platform/usable_cores.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <thread>

namespace platform {

size_t UsableCores() {
#ifdef __linux__
  // taskset, cgroup cpusets and the like narrow this below the machine's count.
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
    const int count = CPU_COUNT(&allowed);
    if (count > 0) return static_cast<size_t>(count);
  }
#endif
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

}  // namespace platform
