#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <bitset>
#include <thread>

#include "platform/resources.h"

namespace platform {

unsigned UsableCores() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process) {
        return static_cast<unsigned>(std::bitset<sizeof process * 8>(process).count());
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned long FilesThisProcessMayOpen() { return static_cast<unsigned long>(_getmaxstdio()); }

}  // namespace platform
