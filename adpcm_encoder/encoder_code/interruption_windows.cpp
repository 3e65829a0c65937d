#include <windows.h>

#include "interruption.h"

namespace {

// The console's handler runs on a thread of its own.
SRWLOCK lock = SRWLOCK_INIT;
std::string pendingPath;  // empty: nothing to remove

// The output's handles share deletion, so the file goes even while it is
// being written.
BOOL WINAPI RemovePendingFile(DWORD) {
    AcquireSRWLockExclusive(&lock);
    if (!pendingPath.empty()) DeleteFileA(pendingPath.c_str());
    ReleaseSRWLockExclusive(&lock);
    return FALSE;  // on to the default handler, which ends the program
}

void SetPendingPath(const std::string& path) {
    AcquireSRWLockExclusive(&lock);
    pendingPath = path;
    ReleaseSRWLockExclusive(&lock);
}

}  // namespace

void HandleInterruptions() { SetConsoleCtrlHandler(RemovePendingFile, TRUE); }

void RemoveOnInterruption(const std::string& path) { SetPendingPath(path); }

void NothingToRemoveOnInterruption() { SetPendingPath({}); }
