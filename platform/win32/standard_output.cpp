// Win32 standard output: a console when the console accepts its handle; its size from the
// console window (a line as wide as the window would wrap); the cursor moved and lines cleared
// through the console's own calls; the direct write is WriteFile on its handle. Standard error
// may stand in for it.
#include "platform/output_os.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<DWORD> output_handle_id{STD_OUTPUT_HANDLE};

HANDLE stdout_handle() { return GetStdHandle(output_handle_id.load()); }

bool window_info(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return GetConsoleScreenBufferInfo(stdout_handle(), &info) != 0;
}

}  // namespace

void os_output_to_stderr() { output_handle_id.store(STD_ERROR_HANDLE); }

bool os_stdout_is_terminal() {
    const HANDLE out = stdout_handle();
    DWORD mode = 0;
    return out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode) != 0;
}

std::size_t os_stdout_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!window_info(info)) {
        return 0;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

std::size_t os_stdout_rows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!window_info(info)) {
        return 0;
    }
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return rows > 0 ? static_cast<std::size_t>(rows) : 0;
}

void os_stdout_clear_lines_above(std::size_t lines) {
    const HANDLE out = stdout_handle();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info)) {
        return;
    }
    const SHORT up = static_cast<SHORT>(lines > static_cast<std::size_t>(info.dwCursorPosition.Y)
                                            ? info.dwCursorPosition.Y
                                            : static_cast<SHORT>(lines));
    const COORD start{0, static_cast<SHORT>(info.dwCursorPosition.Y - up)};
    // From the block's first line to the end of the buffer.
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) *
                        static_cast<DWORD>(info.dwSize.Y - start.Y);
    DWORD written = 0;
    FillConsoleOutputCharacterA(out, ' ', cells, start, &written);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, start, &written);
    SetConsoleCursorPosition(out, start);
}

void os_write_stdout_now(const char* data, std::size_t length) noexcept {
    const HANDLE out = stdout_handle();
    DWORD written = 0;
    if (out != INVALID_HANDLE_VALUE && out != nullptr) {
        WriteFile(out, data, static_cast<DWORD>(length), &written, nullptr);
    }
}
