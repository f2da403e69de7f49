// POSIX standard output: a terminal when isatty says so; its width from the terminal's window
// size; the direct write is write(2) on its descriptor.
#include "platform/output_os.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

bool os_stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

std::size_t os_stdout_columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void os_write_stdout_now(const char* data, std::size_t length) noexcept {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // the console has gone (SIGHUP): nothing more can be said
        }
        done += static_cast<std::size_t>(n);
    }
}
