#include "platform/paths.h"

namespace platform {

std::size_t DrivePrefixSize(const std::string&) { return 0; }

char FolderSeparator() { return '/'; }

}  // namespace platform
