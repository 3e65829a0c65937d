#include <windows.h>

#include <cctype>
#include <string>

#include "platform/paths.h"

namespace platform {

// A letter and a colon: "Z:".
std::size_t DrivePrefixSize(const std::string& path) {
    const bool drive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    return drive ? 2 : 0;
}

char FolderSeparator() { return '\\'; }

std::size_t SystemNameStart(const std::string& path) { return NameStart(path); }

// In capitals, as NTFS compares names; through UTF-16, the system's own.
std::string FoldedName(const std::string& name) {
    const int units =
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), units);
    CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string folded(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), units, folded.data(), bytes, nullptr, nullptr);
    return folded;
}

}  // namespace platform
