// Why a call to the system or the C runtime failed, as a value: the errno
// value read once, right after the call that failed (on Windows, the
// system's error code mapped to one), and handed up to whoever words the
// message. Nothing read later, after other calls have had the chance to
// change errno, can stand in for it.
#pragma once

#include <cstring>

namespace platform {

class SystemError {
public:
    // Nothing failed.
    SystemError() = default;
    // Failed, for the reason that errno value `code` names.
    explicit SystemError(int code) : failed_(true), code_(code) {}

    explicit operator bool() const { return failed_; }
    int code() const { return code_; }
    // In the system's words, as std::strerror gives them.
    const char* reason() const { return std::strerror(code_); }

private:
    bool failed_ = false;
    int code_ = 0;
};

}  // namespace platform
