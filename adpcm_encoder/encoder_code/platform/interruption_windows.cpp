#include <windows.h>

#include "platform/interruption.h"

namespace platform {

namespace {

// The console's handler runs on a thread of its own while the main thread
// goes on until the handler has returned and the program ends. Taking the
// lock and keeping it, the handler stops the main thread at its next step
// that makes, moves or forgets the file.
SRWLOCK lock = SRWLOCK_INIT;
std::string pendingPath;  // empty: nothing to remove

// The output's handles share deletion, so the file goes even while it is
// being written.
BOOL WINAPI RemovePendingFile(DWORD) {
    AcquireSRWLockExclusive(&lock);
    if (!pendingPath.empty()) DeleteFileA(pendingPath.c_str());
    return FALSE;  // on to the default handler, which ends the program
}

}  // namespace

void HandleInterruptions() { SetConsoleCtrlHandler(RemovePendingFile, TRUE); }

InterruptionsHeldOff::InterruptionsHeldOff() { AcquireSRWLockExclusive(&lock); }

InterruptionsHeldOff::~InterruptionsHeldOff() { ReleaseSRWLockExclusive(&lock); }

void RemoveOnInterruption(const std::string& path) { pendingPath = path; }

void NothingToRemoveOnInterruption() { pendingPath.clear(); }

// Windows has no SIGPIPE: the write fails as it is.
void WritesToClosedPipesFail() {}

}  // namespace platform
