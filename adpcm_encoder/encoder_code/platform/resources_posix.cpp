#include <sched.h>

#include <algorithm>
#include <thread>

#include "platform/cores.h"

namespace platform {

unsigned UsableCores() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        return std::max(1, CPU_COUNT(&allowed));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace platform
