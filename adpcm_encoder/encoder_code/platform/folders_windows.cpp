#include <windows.h>

#include <cerrno>

#include "platform/folders.h"
#include "platform/windows_errors.h"

namespace platform {

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsFolderAttributes(DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/' || path.back() == ':');
}

}  // namespace

bool IsFolder(const std::string& path) {
    return IsFolderAttributes(GetFileAttributesA(path.c_str()));
}

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

SystemError CheckFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == kNoAttributes) return LastError();
    return IsFolderAttributes(attributes) ? SystemError() : SystemError(ENOTDIR);
}

SystemError ListFolder(const std::string& path, std::vector<std::string>& names) {
    const std::string pattern = path + (EndsWithSeparator(path) ? "*" : "\\*");
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty drive's root has not even "." in it.
        return GetLastError() == ERROR_FILE_NOT_FOUND ? SystemError() : LastError();
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? SystemError() : SystemError(ErrnoFor(error));
}

std::string FolderIdentity(const std::string& path) {
    // Opening a folder needs backup semantics; no access is asked for.
    const HANDLE folder =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return std::string();
    BY_HANDLE_FILE_INFORMATION info;
    const bool told = GetFileInformationByHandle(folder, &info);
    CloseHandle(folder);
    if (!told) return std::string();
    return std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string((static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
                          info.nFileIndexLow);
}

}  // namespace platform
