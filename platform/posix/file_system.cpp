// POSIX files and folders: stat (kind and identity), mkdir and rmdir, and '/' between folder and name.
#include "platform/file_system.h"

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

std::optional<file_status> get_file_status(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const file_kind kind = S_ISREG(status.st_mode)   ? file_kind::regular
                           : S_ISDIR(status.st_mode) ? file_kind::directory
                                                     : file_kind::other;
    return file_status{static_cast<std::uint64_t>(status.st_size), status.st_mtime,
                       S_ISDIR(status.st_mode), kind};
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

folder_claim claim_folder(const std::string& name, os_error& error) {
    // The process's umask narrows the permissions, as for any folder the user makes. mkdir
    // never follows a symbolic link of that name: it fails with EEXIST.
    if (mkdir(name.c_str(), 0777) == 0) {
        return folder_claim::created;
    }
    error = last_os_error();
    return is_name_taken(error) ? folder_claim::taken : folder_claim::failed;
}

void remove_empty_folder(const std::string& name) { (void)rmdir(name.c_str()); }

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;  // atomic, replaces the target
}

bool remove_file(const std::string& name) { return std::remove(name.c_str()) == 0; }

char path_separator() { return '/'; }
