// POSIX side of a guarded file: a plain descriptor created exclusively, unlink and write, which
// are safe in a signal handler, and a rename that never replaces.
#include "platform/guarded_file_os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/guarded_file.h"

std::intptr_t os_create_new(const char* path) noexcept {
    // O_EXCL: the name must be new; with it a symbolic link of that name is never followed.
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? guarded_file::no_handle : fd;
}

bool os_write_all(std::intptr_t handle, const std::uint8_t* data, std::size_t length) noexcept {
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

bool os_close(std::intptr_t handle) noexcept { return ::close(static_cast<int>(handle)) == 0; }

bool os_replace_now(const char* from, const char* to) noexcept {
    return ::rename(from, to) == 0;
}

bool os_name_new(const char* from, const char* to) noexcept {
#if defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;  // the name is taken, or another refusal
    }
#endif
    // A file system without that rename: a second link under the new name, which an existing
    // name refuses, and then the temporary name removed.
    if (link(from, to) != 0) {
        return false;
    }
    unlink(from);
    return true;
}

bool os_remove_now(const char* path) noexcept { return unlink(path) == 0; }
