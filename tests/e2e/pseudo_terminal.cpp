#include "e2e/pseudo_terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

pseudo_terminal::pseudo_terminal(unsigned short rows, unsigned short columns) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a pseudo-terminal");
    }
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const int error = errno;
        ::close(master_);
        master_ = -1;
        throw std::system_error(error, std::generic_category(), "cannot set up a pseudo-terminal");
    }
    slave_path_ = name;
    // A console program under wine takes its window size from the terminal.
    winsize size{};
    size.ws_row = rows;
    size.ws_col = columns;
    ::ioctl(master_, TIOCSWINSZ, &size);
}

pseudo_terminal::~pseudo_terminal() {
    if (master_ >= 0) {
        ::close(master_);
    }
}
