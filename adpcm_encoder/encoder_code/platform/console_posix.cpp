#include <unistd.h>

#include "platform/console.h"

bool IsConsole(std::FILE* stream) { return isatty(fileno(stream)) == 1; }
