#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/interruption.h"

namespace platform {

namespace {

// Every signal whose default action ends the program and that a user or
// another program may send; SIGQUIT is Ctrl+\\ at a terminal.
const int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};

// The files to remove are changed only by a thread that holds the lock. The
// handler takes the lock too: it runs on a thread that is not holding it
// (that thread blocks the signals first), and so waits for another thread
// to finish a step. A lock-free flag is what a handler may wait on.
std::atomic_flag lock = ATOMIC_FLAG_INIT;

// The mask that InterruptionsHeldOff and InterruptionsKeptFromThreads put
// back, for each thread.
thread_local sigset_t unblocked, unkept;

sigset_t Interruptions() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kInterruptions) sigaddset(&signals, signal);
    return signals;
}

void Lock() {
    while (lock.test_and_set(std::memory_order_acquire)) {
    }
}

// A thread that holds the lock may itself wait for what the interrupted
// thread holds (a lock inside the C library): then, after a while, the
// handler goes on without it rather than hang.
void LockOrGiveUp() {
    constexpr int kTries = 1000;
    const timespec pause = {0, 1000000};  // 1 ms
    for (int attempt = 0; attempt < kTries && lock.test_and_set(std::memory_order_acquire);
         ++attempt) {
        nanosleep(&pause, nullptr);
    }
}

extern "C" void RemovePendingFiles(int signal) {
    LockOrGiveUp();  // and kept: the program ends
    for (std::size_t file = 0; file < kMostFilesToRemove; ++file) {
        const std::string* path = FilesToRemove()[file];
        if (path) unlink(path->c_str());
    }
    if (const std::string* text = TextToWrite()) {
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text->data(), text->size());
    }
    // SA_RESETHAND has put back the default action, which now ends the program.
    raise(signal);
}

}  // namespace

void HandleInterruptions() {
    struct sigaction action = {};
    action.sa_handler = RemovePendingFiles;
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
    pthread_sigmask(SIG_BLOCK, &signals, &unblocked);
    Lock();
}

InterruptionsKeptFromThreads::InterruptionsKeptFromThreads() {
    const sigset_t signals = Interruptions();
    pthread_sigmask(SIG_BLOCK, &signals, &unkept);
}

InterruptionsKeptFromThreads::~InterruptionsKeptFromThreads() {
    pthread_sigmask(SIG_SETMASK, &unkept, nullptr);
}

InterruptionsHeldOff::~InterruptionsHeldOff() {
    lock.clear(std::memory_order_release);
    pthread_sigmask(SIG_SETMASK, &unblocked, nullptr);
}

void WritesToClosedPipesFail() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
