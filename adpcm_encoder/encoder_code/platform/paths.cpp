#include "platform/paths.h"

namespace platform {

std::size_t NameStart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? DrivePrefixSize(path) : separator + 1;
}

}  // namespace platform
