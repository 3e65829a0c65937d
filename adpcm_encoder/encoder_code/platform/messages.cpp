#include "platform/messages.h"

namespace platform {

namespace {

const char* const kTexts[] = {
#define MESSAGE(name, text) text,
#include "platform/messages.def"
#undef MESSAGE
};

}  // namespace

const char* Text(Message message) { return kTexts[static_cast<int>(message)]; }

}  // namespace platform
