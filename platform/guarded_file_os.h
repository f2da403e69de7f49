// The system's side of a guarded file, as each backend provides it: a file opened for writing
// that may be removed while it is still open, and its removal, which is safe inside a signal
// handler (the notice goes out through os_write_stdout_now of platform/output_os.h).
#pragma once

#include <cstddef>
#include <cstdint>

// The file created for writing under a name that must be new: a file, folder or symbolic link
// of that name is never opened, emptied or followed. guarded_file::no_handle when the system
// refuses (the name taken among the reasons). Async-signal-safe on Linux.
std::intptr_t os_create_new(const char* path) noexcept;
bool os_write_all(std::intptr_t handle, const std::uint8_t* data, std::size_t length) noexcept;
bool os_close(std::intptr_t handle) noexcept;

// Gives the file `from` the name `to`, replacing a file of that name. Async-signal-safe on Linux.
bool os_replace_now(const char* from, const char* to) noexcept;

// Gives the file `from` the name `to` only if nothing has that name: an existing file, folder
// or link of that name stays as it is, and the call fails. Both lie in one folder.
bool os_name_new(const char* from, const char* to) noexcept;

// Removes the file by name, also while it is open. Async-signal-safe on Linux.
bool os_remove_now(const char* path) noexcept;
