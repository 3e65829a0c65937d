// How many processors this process may run on: on Linux those of its
// affinity (taskset, a container's cpuset), on Windows those of its
// affinity mask; at least 1.
#pragma once

namespace platform {

unsigned UsableCores();

}  // namespace platform
