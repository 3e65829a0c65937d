#include "convert/pending_output.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "platform/interruption.h"
#include "platform/paths.h"

namespace convert {

using platform::CreateNewFile;
using platform::InterruptionsHeldOff;
using platform::ForgetOnInterruption;
using platform::MoveOnto;
using platform::NameStart;
using platform::Opened;
using platform::ProcessId;
using platform::RemoveOnInterruption;
using platform::SystemError;

namespace {

// A leftover sorts beside the outputs; not ending in ".wav", it never
// matches a pattern for WAVE files.
const char kTemporaryPrefix[] = "Enc_";
const char kTemporarySuffix[] = ".part";

// Another name is tried only when one is taken: by a file left by a killed
// run whose process number has come round again, or by names planted to
// stop this run. So the names after the first have a random suffix, from
// the system's source of random numbers, that no one can plant beforehand.
constexpr unsigned kNameAttempts = 100;

std::string RandomSuffix() {
    std::random_device random;
    const unsigned long long high = random(), low = random();
    char suffix[sizeof "-0123456789abcdef"];
    std::snprintf(suffix, sizeof suffix, "-%08llx%08llx", high & 0xFFFFFFFF, low & 0xFFFFFFFF);
    return suffix;
}

}  // namespace

PendingOutput::PendingOutput(std::string outputPath) : outputPath_(std::move(outputPath)) {}

PendingOutput::~PendingOutput() {
    if (path_.empty()) return;
    const InterruptionsHeldOff heldOff;
    std::remove(path_.c_str());
    ForgetOnInterruption(path_);
}

// In the output's folder, so that the move is a rename within one file system.
std::string PendingOutput::TemporaryName(unsigned attempt) const {
    std::string name = outputPath_.substr(0, NameStart(outputPath_)) + kTemporaryPrefix +
                       std::to_string(ProcessId());
    if (attempt > 0) name += RandomSuffix();
    return name + kTemporarySuffix;
}

// The name is given for removal only once the file is this run's, and with
// no interruption between the two.
Opened PendingOutput::Create() {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = TemporaryName(attempt);
        const InterruptionsHeldOff heldOff;
        Opened created = CreateNewFile(name, outputPath_);
        if (created.file) {
            // Moved, not copied: no allocation can fail before the file is
            // this run's to remove.
            path_ = std::move(name);
            RemoveOnInterruption(path_);
            return created;
        }
        if (created.error.code() != EEXIST || attempt + 1 == kNameAttempts) return created;
    }
}

SystemError PendingOutput::MoveIntoPlace() {
    const InterruptionsHeldOff heldOff;
    if (const SystemError error = MoveOnto(path_, outputPath_)) return error;
    ForgetOnInterruption(path_);
    path_.clear();
    return SystemError();
}

}  // namespace convert
