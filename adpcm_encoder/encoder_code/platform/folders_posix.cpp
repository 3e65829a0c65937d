#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/folders.h"

namespace platform {

namespace {

struct FolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};

}  // namespace

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

SystemError CheckFolder(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return SystemError(errno);
    return S_ISDIR(info.st_mode) ? SystemError() : SystemError(ENOTDIR);
}

SystemError ListFolder(const std::string& path, std::vector<std::string>& names) {
    const std::unique_ptr<DIR, FolderCloser> folder(opendir(path.c_str()));
    if (!folder) return SystemError(errno);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder.get());
        if (!entry) break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    return errno ? SystemError(errno) : SystemError();
}

std::string FolderIdentity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return std::string();
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

}  // namespace platform
