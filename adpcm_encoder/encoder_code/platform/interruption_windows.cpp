#include <windows.h>

#include "platform/interruption.h"

namespace platform {

namespace {

// The console's handler runs on a thread of its own while the other threads
// go on until the handler has returned and the program ends. Taking the lock
// and keeping it, the handler stops each of them at its next step that
// makes, moves or forgets a file.
SRWLOCK lock = SRWLOCK_INIT;

// The outputs' handles share deletion, so a file goes even while it is
// being written.
BOOL WINAPI RemovePendingFiles(DWORD) {
    AcquireSRWLockExclusive(&lock);
    for (std::size_t file = 0; file < kMostFilesToRemove; ++file) {
        const std::string* path = FilesToRemove()[file];
        if (path) DeleteFileA(path->c_str());
    }
    if (const std::string* text = TextToWrite()) {
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text->data(), static_cast<DWORD>(text->size()),
                  &written, nullptr);
    }
    return FALSE;  // on to the default handler, which ends the program
}

}  // namespace

void HandleInterruptions() { SetConsoleCtrlHandler(RemovePendingFiles, TRUE); }

InterruptionsHeldOff::InterruptionsHeldOff() { AcquireSRWLockExclusive(&lock); }

InterruptionsHeldOff::~InterruptionsHeldOff() { ReleaseSRWLockExclusive(&lock); }

InterruptionsKeptFromThreads::InterruptionsKeptFromThreads() = default;

InterruptionsKeptFromThreads::~InterruptionsKeptFromThreads() = default;

// Windows has no SIGPIPE: the write fails as it is.
void WritesToClosedPipesFail() {}

}  // namespace platform
