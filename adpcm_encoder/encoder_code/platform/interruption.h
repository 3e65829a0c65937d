// What becomes of the unfinished output when a run is interrupted: on Linux
// by SIGINT, SIGTERM, SIGHUP or SIGQUIT (Ctrl+C, a kill, the terminal closed,
// Ctrl+\\) or by SIGPIPE, SIGUSR1, SIGUSR2 or SIGALRM, whose default also
// ends a program; on Windows by Ctrl+C, Ctrl+Break or the console window
// closed.
//
// After HandleInterruptions, called once at start-up, an interruption removes
// every file named to RemoveOnInterruption and not yet forgotten (one for
// each file being written, on as many threads), and the program then ends as
// that interruption ends any program. On Linux, passing the file-size
// limit no longer ends the program (SIGXFSZ is ignored): the write fails with
// EFBIG like any other.
//
// A file to remove is named, and forgotten, only while an
// InterruptionsHeldOff is alive, together with the step that makes or moves
// the file: an interruption then comes before or after both, never between,
// whichever thread takes those steps.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// As many files as may be named to remove at once.
constexpr std::size_t kMostFilesToRemove = 64;

void HandleInterruptions();

// While alive, an interruption waits (on Linux the signals are blocked on
// this thread and the handler waits for its lock; on Windows the console's
// handler waits for the lock); it comes once this ends. One at a time on a
// thread, around steps that take no lock of their own (a thread that holds
// one the interrupted thread waits for would keep the handler waiting).
class InterruptionsHeldOff {
public:
    InterruptionsHeldOff();
    ~InterruptionsHeldOff();
    InterruptionsHeldOff(const InterruptionsHeldOff&) = delete;
    InterruptionsHeldOff& operator=(const InterruptionsHeldOff&) = delete;
};

// While alive, no interruption reaches this thread, nor a thread it starts
// meanwhile, which keeps that for good; unlike InterruptionsHeldOff it takes
// no lock, and so may wrap what allocates (starting a thread). On Windows
// the console's handler has a thread of its own, and this does nothing.
class InterruptionsKeptFromThreads {
public:
    InterruptionsKeptFromThreads();
    ~InterruptionsKeptFromThreads();
    InterruptionsKeptFromThreads(const InterruptionsKeptFromThreads&) = delete;
    InterruptionsKeptFromThreads& operator=(const InterruptionsKeptFromThreads&) = delete;
};

// A file to remove should the run be interrupted: `path` is read only then,
// and must stay as it is until forgotten. Call both only while interruptions
// are held off; no more than kMostFilesToRemove at once.
void RemoveOnInterruption(const std::string& path);
void ForgetOnInterruption(const std::string& path);

// What is written to standard error, should the run be interrupted, before
// it ends: the text that clears a line shown in place; null for nothing.
// `text` must stay as it is until replaced. Call only while held off.
void WriteOnInterruption(const std::string* text);

// For the handlers: what to write, or null.
const std::string* TextToWrite();

// For the handlers: kMostFilesToRemove entries, a file named and not yet
// forgotten in each that is not null.
const std::string* const* FilesToRemove();

// From now on a write to a pipe that no one reads fails with EPIPE instead
// of ending the program (on Linux SIGPIPE is ignored).
void WritesToClosedPipesFail();

}  // namespace platform
