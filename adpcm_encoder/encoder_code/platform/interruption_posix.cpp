#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "platform/interruption.h"

namespace platform {

namespace {

// Every signal whose default action ends the program and that a user or
// another program may send; SIGQUIT is Ctrl+\\ at a terminal.
const int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT,
                              SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};

// Changed only while the signals are blocked, so the handler never sees
// them half changed.
std::string pendingPath;
volatile std::sig_atomic_t pending = 0;

// The mask that InterruptionsHeldOff puts back; held off once at a time.
sigset_t unblocked;

sigset_t Interruptions() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kInterruptions) sigaddset(&signals, signal);
    return signals;
}

extern "C" void RemovePendingFile(int signal) {
    if (pending) unlink(pendingPath.c_str());
    // SA_RESETHAND has put back the default action, which now ends the program.
    raise(signal);
}

}  // namespace

void HandleInterruptions() {
    struct sigaction action = {};
    action.sa_handler = RemovePendingFile;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = Interruptions();
    for (int signal : kInterruptions) {
        // What whoever started the program ignores (nohup, a shell's
        // background job) stays ignored.
        struct sigaction previous;
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

InterruptionsHeldOff::InterruptionsHeldOff() {
    const sigset_t signals = Interruptions();
    sigprocmask(SIG_BLOCK, &signals, &unblocked);
}

InterruptionsHeldOff::~InterruptionsHeldOff() { sigprocmask(SIG_SETMASK, &unblocked, nullptr); }

void RemoveOnInterruption(const std::string& path) {
    pendingPath = path;
    pending = 1;
}

void NothingToRemoveOnInterruption() { pending = 0; }

void WritesToClosedPipesFail() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
