#include "platform/interruption.h"

namespace platform {

namespace {

const std::string* toRemove[kMostFilesToRemove] = {};
const std::string* toWrite = nullptr;

}  // namespace

void RemoveOnInterruption(const std::string& path) {
    for (const std::string*& slot : toRemove) {
        if (!slot) {
            slot = &path;
            return;
        }
    }
}

void ForgetOnInterruption(const std::string& path) {
    for (const std::string*& slot : toRemove) {
        if (slot == &path) slot = nullptr;
    }
}

const std::string* const* FilesToRemove() { return toRemove; }

void WriteOnInterruption(const std::string* text) { toWrite = text; }

const std::string* TextToWrite() { return toWrite; }

}  // namespace platform
