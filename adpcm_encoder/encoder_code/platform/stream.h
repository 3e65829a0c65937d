// Reading and writing an open file through stdio, each failure returned as a
// value with the reason captured right after the call that failed.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/messages.h"
#include "platform/system_error.h"

namespace platform {

// Why a read of a file's next bytes gave fewer than asked for: the file ended
// first, or the system failed (then `error` says why). None: all were read.
struct ReadFailure {
    bool failed = false;
    SystemError error;

    explicit operator bool() const { return failed; }
    // Why the read gave less: the system's reason, or the end of the file.
    const char* reason() const { return error ? error.reason() : Text(Message::FileEndedEarly); }
};

ReadFailure ReadExactly(std::FILE* file, void* out, std::size_t bytes);

SystemError WriteExactly(std::FILE* file, const void* bytes, std::size_t count);

SystemError Flush(std::FILE* file);

// Closes the file, with what its last buffered writes met.
SystemError Close(File file);

}  // namespace platform
