// Win32 standard output: a console when the console accepts its handle; its width from the
// console window (a line as wide as the window would wrap); the direct write is WriteFile on
// its handle.
#include "platform/output_os.h"

#include <windows.h>

namespace {

HANDLE stdout_handle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

}  // namespace

bool os_stdout_is_terminal() {
    const HANDLE out = stdout_handle();
    DWORD mode = 0;
    return out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode) != 0;
}

std::size_t os_stdout_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(stdout_handle(), &info)) {
        return 0;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

void os_write_stdout_now(const char* data, std::size_t length) noexcept {
    const HANDLE out = stdout_handle();
    DWORD written = 0;
    if (out != INVALID_HANDLE_VALUE && out != nullptr) {
        WriteFile(out, data, static_cast<DWORD>(length), &written, nullptr);
    }
}
