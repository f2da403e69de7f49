// POSIX user name: the login name of the process's user from the password database.
#include "platform/user.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

std::string current_user_name() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384u);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_name == nullptr) {
        return "";
    }
    return found->pw_name;
}
