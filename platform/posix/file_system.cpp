// POSIX files and folders: stat, mkdir, and '/' between folder and name.
#include "platform/file_system.h"

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

char path_separator() { return '/'; }
