#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"

namespace platform {

bool IsConsole(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void OpenClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // open gives the lowest free number: this one.
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
    }
}

}  // namespace platform
