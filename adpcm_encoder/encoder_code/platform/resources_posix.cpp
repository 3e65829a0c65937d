#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <thread>

#include "platform/resources.h"

namespace platform {

unsigned UsableCores() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return std::max(1, CPU_COUNT(&allowed));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned long FilesThisProcessMayOpen() {
    constexpr unsigned long kPlenty = 1ul << 20;
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kPlenty;
    return static_cast<unsigned long>(limit.rlim_cur);
}

}  // namespace platform
