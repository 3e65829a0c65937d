#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

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

// A new file is ours: only root may give it another owner, and only a member
// of the old group that group. Refused, the file stays ours.
bool TakeOwnership(int fd, const struct stat& old) {
    return fchown(fd, old.st_uid, old.st_gid) == 0 ||
           fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
}

}  // namespace

int Seek(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t Tell(std::FILE* file) { return ftello(file); }

File OpenRegularFile(const std::string& path, std::int64_t& size) {
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
    size = info.st_size;
    return Fdopen(fd, "rb");
}

// 0666 less the umask, as for any new file. fdopen's "w+" truncates nothing.
File CreateNewFile(const std::string& path, const std::string& like) {
    mode_t mode = 0666;
    struct stat old;
    if (lstat(like.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode &= old.st_mode;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd < 0 ? nullptr : Fdopen(fd, "w+b");
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

// A file system that cannot start early only makes the final sync longer.
bool StartWritingToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
    return true;
}

// The folder that holds `path`, as a name that can be opened.
std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.rfind('/');
    return separator == std::string::npos ? "." : path.substr(0, separator + 1);
}

// In a folder with the sticky bit (such as /tmp) only the owner of a file,
// or of the folder, or root may remove or rename it.
bool MayRenameOnto(const std::string& path, const struct stat& info) {
    struct stat folderInfo;
    const uid_t user = geteuid();
    if (stat(FolderOf(path).c_str(), &folderInfo) != 0 || !(folderInfo.st_mode & S_ISVTX) ||
        user == 0 || user == info.st_uid || user == folderInfo.st_uid) {
        return true;
    }
    errno = EPERM;
    return false;
}

bool MayReplace(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (!MayRenameOnto(path, info)) return false;
    return !S_ISREG(info.st_mode) || access(path.c_str(), W_OK) == 0;
}

// The permission bits only: set-user-ID and the like have no business on a
// sound file, least of all on one that someone else may now own.
bool TakeAccessOf(std::FILE* file, const std::string& path) {
    struct stat old, current;
    if (lstat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return true;
    const int fd = fileno(file);
    TakeOwnership(fd, old);
    if (fstat(fd, &current) != 0) return false;
    const mode_t kPermissionBits = 0777;
    if ((current.st_mode & kPermissionBits) == (old.st_mode & kPermissionBits)) return true;
    return fchmod(fd, old.st_mode & kPermissionBits) == 0;
}

bool MoveOnto(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncFolderOf(const std::string& path) {
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    const int reason = errno;
    close(fd);
    errno = reason;
    return synced;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

// A backslash separates too, as on Windows. On Linux "my\\take.wav" is a name
// in the current folder, and so is the "my\\Enc_take.wav" it gives.
std::size_t NameStart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? 0 : separator + 1;
}
