#include "platform/arguments.h"

// mingw's start-up expands patterns in the arguments only when the program
// defines this as nonzero.
extern "C" {
int _dowildcard = -1;
}

namespace platform {

// The start-up has expanded them already.
std::vector<std::string> ExpandWildcards(const std::vector<std::string>& arguments) {
    return arguments;
}

}  // namespace platform
