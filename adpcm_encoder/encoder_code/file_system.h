// What the converter needs of the file system that Linux and Windows provide
// differently: 64-bit seeks, opening only regular files, creating a file that
// must not exist yet, flushing a file to the disk, and moving a file onto
// another name in one step.
//
// Functions that fail return null or false and leave the system's reason in
// errno.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// fseek and ftell with offsets past 2 GiB.
int Seek(std::FILE* file, std::int64_t offset, int origin);
std::int64_t Tell(std::FILE* file);

// Opens `path` for binary reading if it is a regular file. Anything else (a
// directory, FIFO, device or socket) is found out before it is opened, since
// opening a FIFO waits for a writer, and gives null.
File OpenRegularFile(const std::string& path);

// Creates `path` for binary writing. Fails with EEXIST when anything is there
// already, a link included, which is never followed.
File CreateNewFile(const std::string& path);

// Opens an existing file for binary reading and writing ("r+b").
File OpenForUpdate(const std::string& path);

// Writes out the file's buffered data and has the system put it on the disk.
bool FlushToDisk(std::FILE* file);

// Moves the file `from` onto the name `to` in one step, replacing whatever is
// there; a link at `to` is replaced, not followed.
bool MoveOnto(const std::string& from, const std::string& to);

// This process's number, unique among the processes running.
unsigned long ProcessId();
