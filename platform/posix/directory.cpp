// POSIX directory search: readdir over the current directory, names matched with fnmatch and
// their size and time taken with stat.
#include "platform/directory.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

directory_entry make_entry(const char* name) {
    directory_entry entry;
    entry.name = name;
    struct stat status {};
    // An entry that vanished since readdir, or a link to nothing, is still listed.
    if (stat(name, &status) == 0) {
        // A directory counts as size 0, as the Windows search reports it.
        entry.size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
        entry.write_time = status.st_mtime;
    }
    return entry;
}

}  // namespace

std::vector<directory_entry> find_entries(const std::string& pattern) {
    std::vector<directory_entry> entries;
    DIR* directory = opendir(".");
    if (directory == nullptr) {
        return entries;
    }
    while (const dirent* found = readdir(directory)) {
        if (fnmatch(pattern.c_str(), found->d_name, 0) == 0) {
            entries.push_back(make_entry(found->d_name));
        }
    }
    closedir(directory);
    return entries;
}
