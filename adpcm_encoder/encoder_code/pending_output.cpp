#include "pending_output.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "interruption.h"

namespace {

const char kTemporarySuffix[] = ".part";

// Another name is tried only when one is taken, which takes a file left by a
// killed run whose process number has come round again.
constexpr unsigned kNameAttempts = 100;

}  // namespace

PendingOutput::PendingOutput(std::string outputPath) : outputPath_(std::move(outputPath)) {}

PendingOutput::~PendingOutput() {
    if (path_.empty()) return;
    std::remove(path_.c_str());
    Forget();
}

// Not ending in ".wav", a leftover never matches a pattern for WAVE files.
std::string PendingOutput::TemporaryName(unsigned attempt) const {
    std::string name = outputPath_ + "." + std::to_string(ProcessId());
    if (attempt > 0) name += "-" + std::to_string(attempt);
    return name + kTemporarySuffix;
}

// The name is given for removal before the file exists, so that no moment
// of an interruption leaves it behind.
File PendingOutput::Create() {
    for (unsigned attempt = 0;; ++attempt) {
        path_ = TemporaryName(attempt);
        RemoveOnInterruption(path_);
        File file = CreateNewFile(path_);
        if (file) return file;
        const int reason = errno;
        Forget();
        errno = reason;
        if (reason != EEXIST || attempt + 1 == kNameAttempts) return nullptr;
    }
}

bool PendingOutput::MoveIntoPlace() {
    if (!MoveOnto(path_, outputPath_)) return false;
    Forget();
    return true;
}

void PendingOutput::Forget() {
    NothingToRemoveOnInterruption();
    path_.clear();
}
