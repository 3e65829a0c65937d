#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "interruption.h"

namespace {

const int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

// The handler reads the path only while `pending` is set, and the path is
// changed only while it is not.
std::string pendingPath;
volatile std::sig_atomic_t pending = 0;

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
    sigemptyset(&action.sa_mask);
    for (int signal : kInterruptions) sigaddset(&action.sa_mask, signal);
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

void RemoveOnInterruption(const std::string& path) {
    NothingToRemoveOnInterruption();
    pendingPath = path;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pending = 1;
}

void NothingToRemoveOnInterruption() {
    pending = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}
