#include <cctype>

#include "platform/paths.h"

namespace platform {

std::size_t DrivePrefixSize(const std::string&) { return 0; }

char FolderSeparator() { return '/'; }

std::size_t SystemNameStart(const std::string& path) {
    const std::size_t separator = path.rfind('/');
    return separator == std::string::npos ? 0 : separator + 1;
}

std::string FoldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

}  // namespace platform
