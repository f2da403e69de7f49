// POSIX standard output: a terminal when isatty says so; its size from the terminal's window
// size; cursor movement by the terminal's escape sequences; the direct write is write(2) on its
// descriptor. Standard error may stand in for it.
#include "platform/output_os.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

std::atomic<int> output_fd{STDOUT_FILENO};

winsize window_size() {
    winsize size{};
    if (ioctl(output_fd.load(), TIOCGWINSZ, &size) != 0) {
        return winsize{};
    }
    return size;
}

}  // namespace

void os_output_to_stderr() { output_fd.store(STDERR_FILENO); }

bool os_stdout_is_terminal() { return isatty(output_fd.load()) == 1; }

std::size_t os_stdout_columns() { return window_size().ws_col; }

std::size_t os_stdout_rows() { return window_size().ws_row; }

void os_stdout_clear_lines_above(std::size_t lines) {
    // Cursor up, to the first column, and erase to the end of the screen.
    std::string text = "\r";
    if (lines > 0) {
        text += "\x1b[" + std::to_string(lines) + "A";
    }
    text += "\x1b[J";
    os_write_stdout_now(text.data(), text.size());
}

void os_write_stdout_now(const char* data, std::size_t length) noexcept {
    const int fd = output_fd.load();
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // the console has gone (SIGHUP): nothing more can be said
        }
        done += static_cast<std::size_t>(n);
    }
}
