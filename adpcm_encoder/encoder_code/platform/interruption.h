// What becomes of the unfinished output when a run is interrupted: on Linux
// by SIGINT, SIGTERM, SIGHUP or SIGQUIT (Ctrl+C, a kill, the terminal closed,
// Ctrl+\\) or by SIGPIPE, SIGUSR1, SIGUSR2 or SIGALRM, whose default also
// ends a program; on Windows by Ctrl+C, Ctrl+Break or the console window
// closed.
//
// After HandleInterruptions, called once at start-up, an interruption removes
// the file last named to RemoveOnInterruption, if any, and the program then
// ends as that interruption ends any program. On Linux, passing the file-size
// limit no longer ends the program (SIGXFSZ is ignored): the write fails with
// EFBIG like any other.
//
// The file to remove is named, and forgotten, only while an
// InterruptionsHeldOff is alive, together with the step that makes or moves
// the file: an interruption then comes before or after both, never between.
#pragma once

#include <string>

namespace platform {

void HandleInterruptions();

// While alive, an interruption waits (on Linux the signals are blocked; on
// Windows the console's handler waits for it); it comes once this ends.
class InterruptionsHeldOff {
public:
    InterruptionsHeldOff();
    ~InterruptionsHeldOff();
    InterruptionsHeldOff(const InterruptionsHeldOff&) = delete;
    InterruptionsHeldOff& operator=(const InterruptionsHeldOff&) = delete;
};

// The file to remove should the run be interrupted; call only while
// interruptions are held off.
void RemoveOnInterruption(const std::string& path);
void NothingToRemoveOnInterruption();

// From now on a write to a pipe that no one reads fails with EPIPE instead
// of ending the program (on Linux SIGPIPE is ignored).
void WritesToClosedPipesFail();

}  // namespace platform
