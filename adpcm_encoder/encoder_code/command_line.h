// What the program's arguments ask for. Options are whole arguments
// anywhere before "--", in any order, an option's value the next argument
// (or after "=" in a long one); the others are files, in the order given.
// Only the words themselves ask: "./--help" names a file. An argument that
// starts with "-" and is none of them is a misuse, and so is an option
// without its value. The first answer asked for (--help, --version), or the
// first misuse, decides, and the arguments after it are not read.
// Nothing here prints or looks at a file.
#pragma once

#include <string>
#include <vector>

#include "platform/interruption.h"

// Up to one thread a file being written, each with its file to remove.
constexpr unsigned kMostJobs = platform::kMostFilesToRemove;

struct Request {
    std::string answer;  // the usage or the version, asked for
    std::string misuse;  // the line that says what is wrong
    bool best = false, compatible = false, decode = false, verbose = false;
    std::string outputFolder;
    unsigned jobs = 0;  // 0: one a usable core
    std::vector<std::string> files;
};

// `argv` as main takes it.
Request Parse(int argc, char** argv);
