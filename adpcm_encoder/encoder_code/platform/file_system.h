// What the converter needs of the file system that Linux and Windows provide
// differently: 64-bit seeks, opening only regular files, creating a file that
// must not exist yet, flushing a file to the disk, giving a new file the
// access of the one it replaces, and moving a file onto another name in one
// step.
//
// A function that fails returns its SystemError, captured where the call
// failed; one that succeeds returns an empty one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace platform {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A file opened, or, null, why it could not be.
struct Opened {
    File file;
    SystemError error;
};

// fseek and ftell with offsets past 2 GiB.
SystemError Seek(std::FILE* file, std::int64_t offset, int origin);
std::int64_t Tell(std::FILE* file);

// Opens `path` for binary reading if it is a regular file, and gives its
// size as it was then. Anything else (a directory, FIFO, device or socket) is
// found out before it is opened, since opening a FIFO waits for a writer, and
// fails with EISDIR for a directory, EINVAL for the rest.
Opened OpenRegularFile(const std::string& path, std::int64_t& size);

// Creates `path` for binary reading and writing ("w+b"). Fails with EEXIST
// when anything is there already, a link included, which is never followed.
// On Linux it has no permission that the regular file at `like`, if any,
// lacks: the successor of a private file is private from the start.
Opened CreateNewFile(const std::string& path, const std::string& like);

// Writes out the file's buffered data and has the system put it on the disk.
SystemError FlushToDisk(std::FILE* file);

// Writes out the file's buffered data and, on Linux, has the system start
// putting the file on the disk without waiting for it: a FlushToDisk later
// then has less to wait for. Only the first can fail.
SystemError StartWritingToDisk(std::FILE* file);

// Fails unless what is at `path` may be replaced by a new file: not a folder
// (EISDIR), nor a file that this user may not write (EACCES; on Windows, one
// marked read-only), nor, in a folder with the sticky bit, another user's
// file (EPERM); and a name the system can look up (ENAMETOOLONG and the
// like). Nothing there, a link, or anything else may be.
SystemError CheckReplaceable(const std::string& path);

// Gives `file` the permission bits of the regular file at `path`, and its
// owner and group where the system allows; nothing when no regular file is
// there (a link leads elsewhere and is replaced, not what it leads to). On
// Windows a file takes its folder's access, and this does nothing.
SystemError TakeAccessOf(std::FILE* file, const std::string& path);

// Moves the file `from` onto the name `to` in one step, replacing a file or
// link there (a link is replaced, not followed). A folder at `to` stays and
// the move fails. On Windows the move is on the disk once this returns.
SystemError MoveOnto(const std::string& from, const std::string& to);

// Puts on the disk the folder that holds `path`, and with it a move into it.
// A folder this user may not read, or a file system that does not sync
// folders, is left as it is: only a failed sync is a failure.
SystemError SyncFolderOf(const std::string& path);

// This process's number, which no other running process has.
unsigned long ProcessId();

}  // namespace platform
