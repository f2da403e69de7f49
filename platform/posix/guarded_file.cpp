// POSIX side of a guarded file: a plain descriptor, unlink and write, which are safe in a signal
// handler.
#include "platform/guarded_file_os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/guarded_file.h"

std::intptr_t os_create_for_writing(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? guarded_file::no_handle : fd;
}

bool os_write_all(std::intptr_t handle, const std::uint8_t* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(static_cast<int>(handle), data + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool os_close(std::intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

bool os_replace_now(const char* from, const char* to) noexcept {
    return ::rename(from, to) == 0;
}

bool os_remove_now(const char* path) noexcept { return unlink(path) == 0; }
