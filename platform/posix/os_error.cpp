// POSIX errors: errno and strerror.
#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

std::string os_error_text(std::uint32_t code) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string(buffer);
}

os_error last_os_error() {
    const auto code = static_cast<std::uint32_t>(errno);
    return os_error{code, os_error_text(code)};
}

bool is_name_taken(const os_error& error) { return error.code == EEXIST; }

bool is_name_missing(const os_error& error) {
    return error.code == ENOENT || error.code == ENOTDIR;
}
