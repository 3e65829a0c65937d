#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace platform {

namespace {

// None for a regular file; otherwise the reason to give for not reading it.
SystemError NotRegularReason(const struct stat& info) {
    if (S_ISREG(info.st_mode)) return SystemError();
    return SystemError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
}

// `error` was read before the close, which may change errno.
Opened CloseWith(int fd, SystemError error) {
    close(fd);
    return {nullptr, error};
}

Opened Fdopen(int fd, const char* mode) {
    std::FILE* file = fdopen(fd, mode);
    return file ? Opened{File(file), SystemError()} : CloseWith(fd, SystemError(errno));
}

// A new file is ours: only root may give it another owner, and only a member
// of the old group that group. Where the system does not allow it, the file
// stays ours.
bool TakeOwnership(int fd, const struct stat& old) {
    return fchown(fd, old.st_uid, old.st_gid) == 0 ||
           fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
}

}  // namespace

SystemError Seek(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0 ? SystemError()
                                                                 : SystemError(errno);
}

std::int64_t Tell(std::FILE* file) { return ftello(file); }

Opened OpenRegularFile(const std::string& path, std::int64_t& size) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return {nullptr, SystemError(errno)};
    if (const SystemError reason = NotRegularReason(info)) return {nullptr, reason};
    // Should the name have come to lead to a FIFO meanwhile, O_NONBLOCK keeps
    // the open from waiting, and the second look turns it away.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {nullptr, SystemError(errno)};
    if (fstat(fd, &info) != 0) return CloseWith(fd, SystemError(errno));
    if (const SystemError reason = NotRegularReason(info)) return CloseWith(fd, reason);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        return CloseWith(fd, SystemError(errno));
    }
    size = info.st_size;
    return Fdopen(fd, "rb");
}

// 0666 less the umask, as for any new file. fdopen's "w+" truncates nothing.
Opened CreateNewFile(const std::string& path, const std::string& like) {
    mode_t mode = 0666;
    struct stat old;
    if (lstat(like.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode &= old.st_mode;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd < 0 ? Opened{nullptr, SystemError(errno)} : Fdopen(fd, "w+b");
}

SystemError FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return SystemError(errno);
    return fsync(fileno(file)) == 0 ? SystemError() : SystemError(errno);
}

// A file system that cannot start early only makes the final sync longer.
SystemError StartWritingToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return SystemError(errno);
    sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
    return SystemError();
}

// The folder that holds `path`, as a name that can be opened: on Linux only
// '/' separates folders in the names the system takes.
std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.rfind('/');
    return separator == std::string::npos ? "." : path.substr(0, separator + 1);
}

// In a folder with the sticky bit (such as /tmp) only the owner of a file,
// or of the folder, or root may remove or rename it.
bool MayRenameOnto(const std::string& path, const struct stat& info) {
    struct stat folderInfo;
    const uid_t user = geteuid();
    return stat(FolderOf(path).c_str(), &folderInfo) != 0 || !(folderInfo.st_mode & S_ISVTX) ||
           user == 0 || user == info.st_uid || user == folderInfo.st_uid;
}

SystemError CheckReplaceable(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        const int code = errno;
        return code == ENOENT ? SystemError() : SystemError(code);
    }
    if (S_ISDIR(info.st_mode)) return SystemError(EISDIR);
    if (!MayRenameOnto(path, info)) return SystemError(EPERM);
    if (!S_ISREG(info.st_mode) || access(path.c_str(), W_OK) == 0) return SystemError();
    return SystemError(errno);
}

// The permission bits only: set-user-ID and the like have no business on a
// sound file, least of all on one that someone else may now own.
SystemError TakeAccessOf(std::FILE* file, const std::string& path) {
    struct stat old, current;
    if (lstat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return SystemError();
    const int fd = fileno(file);
    TakeOwnership(fd, old);
    if (fstat(fd, &current) != 0) return SystemError(errno);
    const mode_t kPermissionBits = 0777;
    if ((current.st_mode & kPermissionBits) == (old.st_mode & kPermissionBits)) return SystemError();
    return fchmod(fd, old.st_mode & kPermissionBits) == 0 ? SystemError() : SystemError(errno);
}

SystemError MoveOnto(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? SystemError() : SystemError(errno);
}

SystemError SyncFolderOf(const std::string& path) {
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return SystemError();
    const int code = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return code == 0 || code == EINVAL ? SystemError() : SystemError(code);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace platform
