// Facts about a file, making a folder, and how a folder and a name are joined into a path.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/os_error.h"

// What a name stands for. Only a regular file holds data that can be read whole, and only a
// regular file may be replaced by one the program writes: "other" is a device (a serial port,
// /dev/null, Windows' NUL or COM3), a FIFO or a socket, where an open may block or a rename
// would put a plain file in the device's place.
enum class file_kind { regular, directory, other };

struct file_status {
    std::uint64_t size = 0;    // in bytes
    std::time_t modified = 0;  // last modification
    bool is_directory = false;
    file_kind kind = file_kind::regular;
};

// The status of the named file or directory (a symbolic link is followed); nothing when the
// system cannot give it.
std::optional<file_status> get_file_status(const std::string& name);

// True when both names exist and stand for the same file (through links, other spellings of
// the path or, on Linux, hard links).
bool same_file(const std::string& a, const std::string& b);

// Making a folder that must be new.
enum class folder_claim {
    created,  // made by this call: no one else writes into it
    taken,    // a file, folder or link of that name is there already
    failed,   // the system refused for another reason
};

// Makes the folder, which must not exist yet; `error` holds the system's account when it
// was not created.
folder_claim claim_folder(const std::string& name, os_error& error);

// Removes the folder when it is empty; nothing otherwise.
void remove_empty_folder(const std::string& name);

// Gives the file `from` the name `to`, replacing a file of that name (a symbolic link of that
// name is replaced, not followed); both lie in one folder. False when the system refuses.
bool replace_file(const std::string& from, const std::string& to);

// Removes the file; false when the system refuses (also when there is no such file).
bool remove_file(const std::string& name);

// The character between a folder and a name in a path: '\\' on Windows, '/' on Linux.
char path_separator();
