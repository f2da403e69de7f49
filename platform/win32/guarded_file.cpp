// Win32 side of a guarded file: the file is opened with FILE_SHARE_DELETE, so that it can be
// removed by name while it is still open (the console's event handler runs on a thread of its
// own while the main thread may be writing); the name goes at once, the data when the last
// handle closes.
#include "platform/guarded_file_os.h"

#include <windows.h>

#include "platform/guarded_file.h"

namespace {
HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

std::intptr_t os_create_new(const char* path) noexcept {
    // CREATE_NEW: the name must be new; an existing file or link of that name is not opened.
    const HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? guarded_file::no_handle : reinterpret_cast<std::intptr_t>(h);
}

bool os_write_all(std::intptr_t handle, const std::uint8_t* data, std::size_t length) noexcept {
    std::size_t done = 0;
    while (done < length) {
        const DWORD piece = static_cast<DWORD>(length - done > 0x40000000u ? 0x40000000u
                                                                          : length - done);
        DWORD written = 0;
        if (!WriteFile(as_handle(handle), data + done, piece, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

bool os_close(std::intptr_t handle) noexcept { return CloseHandle(as_handle(handle)) != 0; }

bool os_replace_now(const char* from, const char* to) noexcept {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool os_name_new(const char* from, const char* to) noexcept {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    return MoveFileExA(from, to, 0) != 0;
}

bool os_remove_now(const char* path) noexcept { return DeleteFileA(path) != 0; }
