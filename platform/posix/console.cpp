// POSIX console: the terminal is put into non-canonical input without echo (signals and output
// processing stay on, so Ctrl-C still ends the program and "\n" still returns the carriage), and
// its settings are put back on every way out, signals included.
#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/line_edit.h"
#include "platform/output.h"
#include "platform/process.h"

namespace {

termios saved{};
std::atomic<bool> raw_mode{false};
bool handlers_installed = false;
int pending = -1;  // a byte read while looking for a waiting key
bool ended = false;

// Only async-signal-safe calls: tcsetattr is one.
void restore_terminal() noexcept {
    if (raw_mode.exchange(false)) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
}

void install_handlers() {
    if (handlers_installed) {
        return;
    }
    handlers_installed = true;
    process_at_exit([] { restore_terminal(); });
    process_on_signal([] { restore_terminal(); });
}

bool stdin_is_terminal() { return isatty(STDIN_FILENO) == 1; }

bool poll_input(std::uint32_t wait_ms) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, static_cast<int>(wait_ms))) < 0 && errno == EINTR) {
    }
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// Reads one byte: the byte, or -1 at the end of input.
int read_byte() {
    unsigned char c = 0;
    ssize_t n;
    while ((n = read(STDIN_FILENO, &c, 1)) < 0 && errno == EINTR) {
    }
    if (n <= 0) {
        ended = true;
        return -1;
    }
    return c;
}

}  // namespace

void console_open() {
    if (!stdin_is_terminal() || raw_mode.load()) {
        return;
    }
    install_handlers();
    if (tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    termios t = saved;
    // Enter gives a carriage return (13), as a Windows console key does.
    t.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR);
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0) {
        raw_mode = true;
    }
}

void console_restore() { restore_terminal(); }

bool console_key_waiting(std::uint32_t wait_ms) {
    if (pending >= 0) {
        return true;
    }
    if (ended || !poll_input(wait_ms)) {
        return false;
    }
    pending = read_byte();
    return pending >= 0;
}

int console_read_key() {
    if (pending >= 0) {
        const int key = pending;
        pending = -1;
        return key;
    }
    if (ended) {
        return -1;
    }
    return read_byte();
}

bool console_input_ended() { return ended && pending < 0; }

bool console_read_line(std::string& line, std::size_t limit) {
    line.clear();
    // In single-key mode the terminal neither echoes nor edits: the line is edited here, so
    // that Backspace works whether the terminal sends DEL or Ctrl-H. Without it (a terminal
    // that could not be switched, or input from a pipe) the bytes are taken as they come, and
    // an erase among them still takes away what it erases.
    const bool echo = raw_mode.load();
    bool got_any = false;
    for (;;) {
        const int c = console_read_key();
        if (c < 0) {
            break;
        }
        got_any = true;
        std::size_t erased = 0;
        const line_key result = edit_line(line, c, &erased);
        if (result == line_key::ended) {
            if (echo) {
                out_write("\n", 1);
            }
            break;
        }
        if (!echo) {
            continue;
        }
        if (result == line_key::added) {
            const char byte = static_cast<char>(c);
            out_write(&byte, 1);
        }
        for (; erased > 0; --erased) {
            out_write("\b \b", 3);
        }
    }
    if (line.size() > limit) {
        line.resize(limit);
    }
    return got_any;
}

void console_clear_screen() {
    if (isatty(STDOUT_FILENO) == 1) {
        static const char clear[] = "\033[H\033[2J\033[3J";
        [[maybe_unused]] const ssize_t n = write(STDOUT_FILENO, clear, sizeof clear - 1);
    }
}
