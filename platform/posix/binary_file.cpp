// Whole-file reading on POSIX: open, fstat for the kind and size, read until done, with a hint
// that the file is read front to back.
#include "platform/binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
class fd_closer {
public:
    explicit fd_closer(int fd) : fd_(fd) {}
    ~fd_closer() { close(fd_); }
    fd_closer(const fd_closer&) = delete;
    fd_closer& operator=(const fd_closer&) = delete;

private:
    int fd_;
};
}  // namespace

bool read_binary_file(const std::string& name, std::vector<std::uint8_t>& data, os_error& error) {
    // Non-blocking, so that a FIFO or a device in the file's place cannot hold the open up; a
    // regular file reads the same either way.
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = last_os_error();
        return false;
    }
    const fd_closer closer(fd);
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        error = last_os_error();
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        error = os_error{static_cast<std::uint32_t>(EISDIR), os_error_text(EISDIR)};
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = os_error{0, not_regular_file_text};
        return false;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    data.assign(static_cast<std::size_t>(status.st_size), 0);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t got = read(fd, data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = last_os_error();
            return false;
        }
        if (got == 0) {
            break;  // the file shrank while being read: keep what is there
        }
        done += static_cast<std::size_t>(got);
    }
    data.resize(done);
    return true;
}
