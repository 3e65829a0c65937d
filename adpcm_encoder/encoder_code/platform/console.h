// What the program needs of the console that Linux and Windows answer
// differently.
#pragma once

#include <cstdio>

namespace platform {

// Whether `stream` goes to a terminal or a console window (not a file, nor a
// pipe): only there is a line rewritten in place worth showing.
bool IsConsole(std::FILE* stream);

// Opens each of standard input, output and error that the program was
// started without on the null device, so that no file the program opens
// takes its number. Windows keeps those numbers for them in any case.
void OpenClosedStandardStreams();

}  // namespace platform
