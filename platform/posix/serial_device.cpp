// POSIX serial port over termios. A Windows port is opened unshared and read through a driver
// queue whose fill can be asked for; here the device is opened non-blocking and locked for this
// process, FIONREAD tells the fill, and poll() waits for input.
#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

speed_t speed_code(std::uint32_t baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B115200;
    }
}

os_error errno_error(int code) {
    return os_error{static_cast<std::uint32_t>(code), os_error_text(static_cast<std::uint32_t>(code))};
}

class posix_serial_device final : public serial_device {
public:
    ~posix_serial_device() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool open(const std::string& device_name, os_error& error) override {
        fd_ = ::open(device_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error = last_os_error();
            return false;
        }
        // Unshared, as Windows opens a port: a second program (or a second run) is refused.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? errno_error(EBUSY) : last_os_error();
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        // Terminals also refuse further opens; a file that is no terminal shows up at get_line.
        ioctl(fd_, TIOCEXCL);
        return true;
    }

    bool get_line(os_error& error) override {
        if (tcgetattr(fd_, &saved_) != 0) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool set_line(const line_settings& settings, os_error& error) override {
        termios t = saved_;
        // Raw bytes: no line editing, echo, signals or translation in either direction, and no
        // software flow control, which would swallow the bytes 0x11 and 0x13 of a frame.
        t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
        t.c_cflag |= static_cast<tcflag_t>(CREAD | CLOCAL);
        switch (settings.byte_size) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        default: t.c_cflag |= CS8; break;
        }
        if (settings.parity == 1 || settings.parity == 2) {  // odd, even
            t.c_cflag |= PARENB;
            if (settings.parity == 1) {
                t.c_cflag |= PARODD;
            }
        }
        if (settings.stop_bits == 2) {  // two stop bits
            t.c_cflag |= CSTOPB;
        }
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, speed_code(settings.baud_rate));
        cfsetospeed(&t, speed_code(settings.baud_rate));
        if (tcsetattr(fd_, TCSANOW, &t) != 0) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool setup_queues(std::uint32_t, std::uint32_t, os_error&) override {
        // The kernel's terminal buffers have a fixed size; there is nothing to set.
        return true;
    }

    bool set_timeouts(const comm_timeouts& timeouts, os_error&) override {
        // Reads only take bytes that have already arrived; only the write limit matters here.
        timeouts_ = timeouts;
        return true;
    }

    bool clear_errors(std::uint32_t& queued, os_error& error) override {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) < 0 && errno != EINTR) {
            error = last_os_error();
            return false;
        }
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            error = errno_error(EIO);  // the device has gone
            return false;
        }
        int count = 0;
        if (ioctl(fd_, FIONREAD, &count) != 0) {
            error = last_os_error();
            return false;
        }
        queued = count > 0 ? static_cast<std::uint32_t>(count) : 0;
        return true;
    }

    bool wait_input(std::uint32_t milliseconds, os_error& error) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            const int ready = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                error = last_os_error();
                return false;
            }
            if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                error = errno_error(EIO);
                return false;
            }
            return true;
        }
    }

    bool read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got,
              os_error& error) override {
        got = 0;
        if (size == 0) {
            return true;
        }
        ssize_t n;
        while ((n = ::read(fd_, data, size)) < 0 && errno == EINTR) {
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            error = last_os_error();
            return false;
        }
        got = static_cast<std::uint32_t>(n);
        return true;
    }

    bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
               os_error& error) override {
        written = 0;
        // As a Windows write time-out: a write that cannot finish in time ends early.
        const auto limit = std::chrono::milliseconds(
            static_cast<std::uint64_t>(timeouts_.write_total_multiplier) * size +
            timeouts_.write_total_constant);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (written < size) {
            const ssize_t n = ::write(fd_, data + written, size - written);
            if (n > 0) {
                written += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                error = last_os_error();
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 && limit.count() > 0) {
                return true;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, limit.count() > 0 ? static_cast<int>(left.count()) : -1) < 0 &&
                errno != EINTR) {
                error = last_os_error();
                return false;
            }
            if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                error = errno_error(EIO);
                return false;
            }
        }
        return true;
    }

    bool purge_input(os_error& error) override {
        if (tcflush(fd_, TCIFLUSH) != 0) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool close(os_error& error) override {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            error = last_os_error();
            return false;
        }
        return true;
    }

private:
    int fd_ = -1;
    termios saved_{};
    comm_timeouts timeouts_{};
};

}  // namespace

std::unique_ptr<serial_device> make_serial_device() {
    return std::make_unique<posix_serial_device>();
}

std::string serial_device_name(std::uint32_t port_number) {
    const std::string local = "COM" + std::to_string(port_number);
    struct stat st{};
    if (lstat(local.c_str(), &st) == 0) {
        return local;
    }
    return "/dev/ttyS" + std::to_string(port_number - 1);
}

std::string serial_device_path(const std::string& port_name) { return port_name; }
