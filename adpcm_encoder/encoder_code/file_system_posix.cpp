#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_system.h"

namespace {

// 0 for a regular file; otherwise the reason to give for not reading it.
int NotRegularReason(const struct stat& info) {
    return S_ISREG(info.st_mode) ? 0 : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
}

File CloseWith(int fd, int error) {
    close(fd);
    errno = error;
    return nullptr;
}

File Fdopen(int fd, const char* mode) {
    std::FILE* file = fdopen(fd, mode);
    return file ? File(file) : CloseWith(fd, errno);
}

}  // namespace

int Seek(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t Tell(std::FILE* file) { return ftello(file); }

File OpenRegularFile(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return nullptr;
    if (const int reason = NotRegularReason(info)) {
        errno = reason;
        return nullptr;
    }
    // Should the name have come to lead to a FIFO meanwhile, O_NONBLOCK keeps
    // the open from waiting, and the second look turns it away.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fstat(fd, &info) != 0) return CloseWith(fd, errno);
    if (const int reason = NotRegularReason(info)) return CloseWith(fd, reason);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return CloseWith(fd, errno);
    return Fdopen(fd, "rb");
}

// 0666 less the umask, as for any new file.
File CreateNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? nullptr : Fdopen(fd, "wb");
}

File OpenForUpdate(const std::string& path) { return File(std::fopen(path.c_str(), "r+b")); }

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveOnto(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
