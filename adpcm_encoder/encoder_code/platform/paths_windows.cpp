#include <cctype>

#include "platform/paths.h"

namespace platform {

// A letter and a colon: "Z:".
std::size_t DrivePrefixSize(const std::string& path) {
    const bool drive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    return drive ? 2 : 0;
}

char FolderSeparator() { return '\\'; }

}  // namespace platform
