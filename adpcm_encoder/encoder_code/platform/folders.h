// What a run of many files needs to know of folders, which Linux and Windows
// tell differently: whether a path is one, the names in one, and which one a
// path leads to.
#pragma once

#include <string>
#include <vector>

#include "platform/system_error.h"

namespace platform {

// Whether `path` leads to a folder, through links too.
bool IsFolder(const std::string& path);

// Whether `path` is a symbolic link (on Windows, any reparse point).
bool IsLink(const std::string& path);

// Why `path` cannot be written into as a folder: nothing there (ENOENT), or
// something that is not a folder (ENOTDIR); none when it is a folder.
SystemError CheckFolder(const std::string& path);

// The names of everything in the folder `path` but "." and "..", in no
// particular order.
SystemError ListFolder(const std::string& path, std::vector<std::string>& names);

// The same text for the same folder whatever path leads to it ("." and the
// folder's full path, a link to it): on Linux its device and inode, on
// Windows its volume and file number. Empty when it cannot be told.
std::string FolderIdentity(const std::string& path);

}  // namespace platform
