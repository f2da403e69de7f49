// The system's side of a guarded file, as each backend provides it: a file opened for writing
// that may be removed while it is still open, and its removal, which is safe inside a signal
// handler (the notice goes out through os_write_stdout_now of platform/output_os.h).
#pragma once

#include <cstddef>
#include <cstdint>

// The file created (or emptied) for writing, or guarded_file::no_handle.
std::intptr_t os_create_for_writing(const char* path);
bool os_write_all(std::intptr_t handle, const std::uint8_t* data, std::size_t length);
bool os_close(std::intptr_t handle);

// Gives the file `from` the name `to`, replacing a file of that name. Async-signal-safe on Linux.
bool os_replace_now(const char* from, const char* to) noexcept;

// Removes the file by name, also while it is open. Async-signal-safe on Linux.
bool os_remove_now(const char* path) noexcept;
