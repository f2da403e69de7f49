#include "tools/unit_sim/sim_pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throw_errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

void pty_port::open() {
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        throw_errno("cannot create a pseudo-terminal");
    }
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const int error = errno;
        close();
        throw std::system_error(error, std::generic_category(),
                                "cannot set up the pseudo-terminal");
    }
    slave_path_ = name;

    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int error = errno;
        close();
        throw std::system_error(error, std::generic_category(),
                                "cannot make the pseudo-terminal non-blocking");
    }

    slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        const int error = errno;
        close();
        throw std::system_error(error, std::generic_category(), "cannot open " + std::string(name));
    }
    // A serial line carries bytes as they are: no echo, no line editing, no translation.
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B115200);
    ::cfsetospeed(&settings, B115200);
    settings.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave_, TCSANOW, &settings) != 0) {
        const int error = errno;
        close();
        throw std::system_error(error, std::generic_category(),
                                "cannot configure " + std::string(name));
    }
}

void pty_port::close() noexcept {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void make_port_link(const fs::path& link, const std::string& target) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(link, error);
    if (fs::is_symlink(status)) {
        const fs::path points_to = fs::read_symlink(link, error);
        if (fs::exists(link, error)) {
            throw std::runtime_error(link.string() + " is a link to " + points_to.string() +
                                     ", which exists: another port may use it; remove the link "
                                     "or choose another port number");
        }
        fs::remove(link, error);  // a stale link to a terminal that is gone
        if (error) {
            throw std::runtime_error("cannot replace the stale link " + link.string() + ": " +
                                     error.message());
        }
    } else if (fs::exists(status)) {
        throw std::runtime_error(link.string() +
                                 " exists and is not a symbolic link; it is left alone: remove "
                                 "it or choose another folder or port number");
    }
    fs::create_symlink(target, link, error);
    if (error) {
        throw std::runtime_error("cannot create the link " + link.string() + " -> " + target +
                                 ": " + error.message());
    }
}

void remove_port_link(const fs::path& link, const std::string& target) noexcept {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(link, error))) {
        return;
    }
    if (fs::read_symlink(link, error) == fs::path(target) && !error) {
        fs::remove(link, error);
    }
}
