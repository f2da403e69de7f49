#include <windows.h>

#include "tools/card_sim/raw_file.h"

raw_file::~raw_file() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
    }
}

bool raw_file::open(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = h;
    return true;
}

bool raw_file::is_open() const noexcept { return handle_ != nullptr; }

void raw_file::write(const char* data, std::size_t size) const noexcept {
    while (handle_ != nullptr && size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) ||
            written == 0) {
            return;
        }
        data += written;
        size -= written;
    }
}
