// What becomes of the unfinished output when a run is interrupted: on Linux
// by SIGINT, SIGTERM or SIGHUP (Ctrl+C, a kill, the terminal closed), on
// Windows by Ctrl+C, Ctrl+Break or the console window closed.
//
// After HandleInterruptions, called once at start-up, an interruption removes
// the file last named to RemoveOnInterruption, if any, and the program then
// ends as that interruption ends any program. On Linux, passing the file-size
// limit no longer ends the program (SIGXFSZ is ignored): the write fails with
// EFBIG like any other.
#pragma once

#include <string>

void HandleInterruptions();

// The file to remove should the run be interrupted; it need not exist yet.
void RemoveOnInterruption(const std::string& path);
void NothingToRemoveOnInterruption();
