#include <fcntl.h>
#include <unistd.h>

#include "tools/card_sim/raw_file.h"

raw_file::~raw_file() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool raw_file::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool raw_file::is_open() const noexcept { return fd_ >= 0; }

void raw_file::write(const char* data, std::size_t size) const noexcept {
    while (fd_ >= 0 && size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n <= 0) {
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}
