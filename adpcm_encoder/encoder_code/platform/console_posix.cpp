#include <unistd.h>

#include "platform/console.h"

namespace platform {

bool IsConsole(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

}  // namespace platform
