// Whole-file reading on Windows: CreateFileA for sequential reading, GetFileSizeEx, ReadFile
// until done.
#include "platform/binary_file.h"

#include <windows.h>

namespace {
class handle_closer {
public:
    explicit handle_closer(HANDLE handle) : handle_(handle) {}
    ~handle_closer() { CloseHandle(handle_); }
    handle_closer(const handle_closer&) = delete;
    handle_closer& operator=(const handle_closer&) = delete;

private:
    HANDLE handle_;
};
}  // namespace

bool read_binary_file(const std::string& name, std::vector<std::uint8_t>& data, os_error& error) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = last_os_error();
        return false;
    }
    const handle_closer closer(file);
    if (GetFileType(file) != FILE_TYPE_DISK) {
        error = os_error{0, not_regular_file_text};
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) == 0) {
        error = last_os_error();
        return false;
    }
    data.assign(static_cast<std::size_t>(size.QuadPart), 0);
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t left = data.size() - done;
        const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (ReadFile(file, data.data() + done, want, &got, nullptr) == 0) {
            error = last_os_error();
            return false;
        }
        if (got == 0) {
            break;  // the file shrank while being read: keep what is there
        }
        done += got;
    }
    data.resize(done);
    return true;
}
