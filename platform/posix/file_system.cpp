// POSIX files and folders: stat, mkdir, and '/' between folder and name.
#include "platform/file_system.h"

#include <cstdio>

#include <sys/stat.h>

std::optional<file_status> get_file_status(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return file_status{static_cast<std::uint64_t>(status.st_size), status.st_mtime,
                       S_ISDIR(status.st_mode)};
}

void make_folder(const std::string& name) {
    // The process's umask narrows the permissions, as for any folder the user makes. An
    // existing folder (EEXIST) is simply reused.
    (void)mkdir(name.c_str(), 0777);
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;  // atomic, replaces the target
}

bool remove_file(const std::string& name) { return std::remove(name.c_str()) == 0; }

char path_separator() { return '/'; }
