// What this process may use at once, which Linux and Windows tell
// differently: the processors it may run on (on Linux those of its affinity,
// as taskset or a container's cpuset sets it; on Windows those of its
// affinity mask), at least 1; and how many files it may have open.
#pragma once

namespace platform {

unsigned UsableCores();

// On Linux the soft limit on descriptors (ulimit -n); on Windows the C
// runtime's limit on open streams.
unsigned long FilesThisProcessMayOpen();

}  // namespace platform
