#include "pending_output.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "interruption.h"

namespace {

// A leftover sorts beside the outputs; not ending in ".wav", it never
// matches a pattern for WAVE files.
const char kTemporaryPrefix[] = "Enc_";
const char kTemporarySuffix[] = ".part";

// Another name is tried only when one is taken, which takes a file left by a
// killed run whose process number has come round again.
constexpr unsigned kNameAttempts = 100;

}  // namespace

PendingOutput::PendingOutput(std::string outputPath) : outputPath_(std::move(outputPath)) {}

PendingOutput::~PendingOutput() {
    if (path_.empty()) return;
    const InterruptionsHeldOff heldOff;
    std::remove(path_.c_str());
    NothingToRemoveOnInterruption();
}

// In the output's folder, so that the move is a rename within one file system.
std::string PendingOutput::TemporaryName(unsigned attempt) const {
    const std::size_t separator = outputPath_.find_last_of("\\/");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    std::string name = outputPath_.substr(0, nameStart) + kTemporaryPrefix +
                       std::to_string(ProcessId());
    if (attempt > 0) name += "-" + std::to_string(attempt);
    return name + kTemporarySuffix;
}

// The name is given for removal only once the file is this run's, and with
// no interruption between the two.
File PendingOutput::Create() {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = TemporaryName(attempt);
        const InterruptionsHeldOff heldOff;
        File file = CreateNewFile(name, outputPath_);
        if (file) {
            // Moved, not copied: no allocation can fail before the file is
            // this run's to remove.
            path_ = std::move(name);
            RemoveOnInterruption(path_);
            return file;
        }
        if (errno != EEXIST || attempt + 1 == kNameAttempts) return nullptr;
    }
}

bool PendingOutput::MoveIntoPlace() {
    const InterruptionsHeldOff heldOff;
    if (!MoveOnto(path_, outputPath_)) return false;
    NothingToRemoveOnInterruption();
    path_.clear();
    return true;
}
