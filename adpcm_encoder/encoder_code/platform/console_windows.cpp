#include <io.h>
#include <windows.h>

#include "platform/console.h"

namespace platform {

// _isatty says yes to the NUL device too; only a console has a console mode.
bool IsConsole(std::FILE* stream) {
    DWORD mode;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// The C runtime keeps numbers 0 to 2 for the standard streams, open or not.
void OpenClosedStandardStreams() {}

}  // namespace platform
