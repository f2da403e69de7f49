// Facts about a file, making a folder, and how a folder and a name are joined into a path.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct file_status {
    std::uint64_t size = 0;    // in bytes
    std::time_t modified = 0;  // last modification
    bool is_directory = false;
};

// The status of the named file or directory; nothing when the system cannot give it.
std::optional<file_status> get_file_status(const std::string& name);

// Makes the folder. An existing folder is no error, and a failure is not reported here: it
// shows when a file in the folder cannot be created.
void make_folder(const std::string& name);

// Gives the file `from` the name `to`, replacing a file of that name; both lie in one folder.
// False when the system refuses.
bool replace_file(const std::string& from, const std::string& to);

// Removes the file; false when the system refuses (also when there is no such file).
bool remove_file(const std::string& name);

// The character between a folder and a name in a path: '\\' on Windows, '/' on Linux.
char path_separator();
