// The system's error codes as the errno values that messages word: for the
// Windows units of this folder only.
#pragma once

#include "platform/system_error.h"

namespace platform {

// `error` is a DWORD, as GetLastError gives it.
int ErrnoFor(unsigned long error);

// GetLastError's code, read at once.
SystemError LastError();

}  // namespace platform
