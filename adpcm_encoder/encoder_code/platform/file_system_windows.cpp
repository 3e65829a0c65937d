#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/windows_errors.h"

namespace platform {

namespace {

// NTFS, FAT and exFAT take names of up to 255 UTF-16 units.
constexpr std::size_t kMaxNameUnits = 255;

std::wstring Widened(const std::string& path) {
    const int units = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                          nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), units);
    return wide;
}

bool NameTooLong(const std::string& path) {
    return Widened(path.substr(NameStart(path))).size() > kMaxNameUnits;
}

// Paths of MAX_PATH characters or more open only on Windows 10 1607 or later
// with long paths enabled (the manifest asks for them).
bool LongPathsEnabled() {
    using Query = BOOLEAN(WINAPI*)();
    const FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlAreLongPathsEnabled");
    return found && reinterpret_cast<Query>(reinterpret_cast<void (*)()>(found))();
}

bool PathTooLong(const std::string& path) {
    if (LongPathsEnabled()) return false;
    const DWORD units = GetFullPathNameW(Widened(path).c_str(), 0, nullptr, nullptr);
    return units > MAX_PATH;  // the length with its terminating null
}

// The C runtime reports a path too long to look up as one where nothing is
// (`code`, the errno value it gave); the system knows better.
SystemError MissingReason(const std::string& path, int code) {
    if (code != ENOENT) return SystemError(code);
    const bool exceedsRange = GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                              GetLastError() == ERROR_FILENAME_EXCED_RANGE;
    return SystemError(exceedsRange || PathTooLong(path) ? ENAMETOOLONG : code);
}

// The output's handles let others delete the file, so that an interruption
// can remove it while it is still being written.
Opened OpenSharingDeletion(const std::string& path, DWORD access, DWORD disposition,
                           const char* mode) {
    const HANDLE handle = CreateFileA(path.c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {nullptr, LastError()};
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd == -1) {
        const SystemError error(errno);
        CloseHandle(handle);
        return {nullptr, error};
    }
    std::FILE* file = _fdopen(fd, mode);
    if (!file) {
        const SystemError error(errno);
        _close(fd);
        return {nullptr, error};
    }
    return {File(file), SystemError()};
}

}  // namespace

SystemError Seek(std::FILE* file, std::int64_t offset, int origin) {
    return _fseeki64(file, offset, origin) == 0 ? SystemError() : SystemError(errno);
}

std::int64_t Tell(std::FILE* file) { return _ftelli64(file); }

// A console, printer port or pipe is no disk file, whatever its name.
Opened OpenRegularFile(const std::string& path, std::int64_t& size) {
    struct _stat64 info;
    if (_stat64(path.c_str(), &info) != 0) return {nullptr, MissingReason(path, errno)};
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        return {nullptr, SystemError((info.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL)};
    }
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return {nullptr, SystemError(errno)};
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())))) !=
        FILE_TYPE_DISK) {
        return {nullptr, SystemError(EINVAL)};
    }
    // The size of the file opened, whatever has come to have its name since.
    if (_fstat64(_fileno(file.get()), &info) != 0) return {nullptr, SystemError(errno)};
    size = info.st_size;
    return {std::move(file), SystemError()};
}

Opened CreateNewFile(const std::string& path, const std::string&) {
    return OpenSharingDeletion(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, "w+b");
}

SystemError FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return SystemError(errno);
    return _commit(_fileno(file)) == 0 ? SystemError() : SystemError(errno);
}

// Windows writes a file's data behind by itself.
SystemError StartWritingToDisk(std::FILE* file) {
    return std::fflush(file) == 0 ? SystemError() : SystemError(errno);
}

// Windows looks a name up without checking its length, and a folder at the
// output's name, a link to one included, fails only the move: both are found
// here instead.
SystemError CheckReplaceable(const std::string& path) {
    if (NameTooLong(path)) return SystemError(ENAMETOOLONG);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SystemError();
        return SystemError(ErrnoFor(error));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return SystemError(EISDIR);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return SystemError();
    if (attributes & FILE_ATTRIBUTE_READONLY) return SystemError(EACCES);
    return SystemError();
}

SystemError TakeAccessOf(std::FILE*, const std::string&) { return SystemError(); }

// The C runtime's rename does not replace an existing file. Write-through
// puts the move on the disk before it returns. While another program has
// the older output open (a player, a virus scanner, a second run moving its
// own output there) the move fails; it is tried again for a while, as
// programs that replace files on Windows do.
SystemError MoveOnto(const std::string& from, const std::string& to) {
    constexpr DWORD kRetryMilliseconds = 1000, kPauseMilliseconds = 20;
    for (DWORD waited = 0;; waited += kPauseMilliseconds) {
        if (MoveFileExA(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return SystemError();
        }
        const DWORD error = GetLastError();
        const bool inUse = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                           error == ERROR_LOCK_VIOLATION;
        if (!inUse || waited >= kRetryMilliseconds) {
            return SystemError(ErrnoFor(error));
        }
        Sleep(kPauseMilliseconds);
    }
}

SystemError SyncFolderOf(const std::string&) { return SystemError(); }

unsigned long ProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
