// What the program needs of the console that Linux and Windows answer
// differently.
#pragma once

#include <cstdio>

namespace platform {

// Whether `stream` goes to a terminal or a console window (not a file, nor a
// pipe): only there is a line rewritten in place worth showing.
bool IsConsole(std::FILE* stream);

}  // namespace platform
