// What becomes of the unfinished output when a run is interrupted: on Linux
// by SIGINT, SIGTERM or SIGHUP (Ctrl+C, a kill, the terminal closed), on
// Windows by Ctrl+C, Ctrl+Break or the console window closed.
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
