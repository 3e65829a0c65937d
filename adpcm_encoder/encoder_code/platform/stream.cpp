#include "platform/stream.h"

#include <cerrno>

namespace platform {

// fread sets the error indicator, and errno, only when the system failed;
// otherwise the file ended.
ReadFailure ReadExactly(std::FILE* file, void* out, std::size_t bytes) {
    if (std::fread(out, 1, bytes, file) == bytes) return {};
    return {true, std::ferror(file) ? SystemError(errno) : SystemError()};
}

SystemError WriteExactly(std::FILE* file, const void* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, file) == count ? SystemError() : SystemError(errno);
}

SystemError Flush(std::FILE* file) {
    return std::fflush(file) == 0 ? SystemError() : SystemError(errno);
}

SystemError Close(File file) {
    return std::fclose(file.release()) == 0 ? SystemError() : SystemError(errno);
}

}  // namespace platform
