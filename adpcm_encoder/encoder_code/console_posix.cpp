#include <unistd.h>

#include "console.h"

bool IsConsole(std::FILE* stream) { return isatty(fileno(stream)) == 1; }
