// Win32 console: keys are read as console input records (ReadConsoleInputA), which also works
// when the console is a terminal that wine drives; line input switches line editing and echo on
// for the time of the line. When standard input is a pipe or a file its bytes are the keys.
#include "platform/console.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <deque>

#include "platform/line_edit.h"
#include "platform/process.h"

namespace {

HANDLE input = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;
std::atomic<bool> raw_mode{false};
bool is_console = false;
bool probed = false;
bool ended = false;
std::deque<int> pending;  // keys taken from the input but not yet handed out

void probe() {
    if (probed) {
        return;
    }
    probed = true;
    input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    is_console = input != INVALID_HANDLE_VALUE && input != nullptr && GetConsoleMode(input, &mode);
}

void restore_console() {
    if (raw_mode.exchange(false)) {
        SetConsoleMode(input, saved_mode);
    }
}

bool is_modifier(WORD key) {
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
           key == VK_LWIN || key == VK_RWIN || key == VK_NUMLOCK || key == VK_SCROLL;
}

// Moves the key presses among the waiting console input records into `pending`; other records
// (key releases, mouse, focus, size) are dropped.
void take_console_records() {
    DWORD count = 0;
    while (GetNumberOfConsoleInputEvents(input, &count) && count > 0) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) {
            return;
        }
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            continue;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        const auto ch = static_cast<unsigned char>(key.uChar.AsciiChar);
        for (WORD r = 0; r < (key.wRepeatCount == 0 ? 1 : key.wRepeatCount); ++r) {
            if (ch != 0) {
                pending.push_back(ch);
            } else if (!is_modifier(key.wVirtualKeyCode)) {
                // A special key comes as two codes, as the console's own key reader gives it.
                pending.push_back(0xE0);
                pending.push_back(key.wVirtualScanCode & 0xFF);
            }
        }
    }
}

// A byte of a pipe or file input, or -1 at its end.
int read_stream_byte() {
    unsigned char c = 0;
    DWORD n = 0;
    if (!ReadFile(input, &c, 1, &n, nullptr) || n == 0) {
        ended = true;
        return -1;
    }
    return c;
}

bool stream_has_byte(std::uint32_t wait_ms) {
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        const DWORD start = GetTickCount();
        for (;;) {
            if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
                ended = true;  // the writer has gone
                return false;
            }
            if (available > 0) {
                return true;
            }
            if (GetTickCount() - start >= wait_ms) {
                return false;
            }
            Sleep(1);
        }
    }
    return true;  // a file: reading never blocks
}

}  // namespace

void console_open() {
    probe();
    if (!is_console || raw_mode.load()) {
        return;
    }
    if (!GetConsoleMode(input, &saved_mode)) {
        return;
    }
    static bool registered = false;
    if (!registered) {
        registered = true;
        process_at_exit([] { restore_console(); });
        process_on_signal([] { restore_console(); });
    }
    const DWORD mode = saved_mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    if (SetConsoleMode(input, mode | ENABLE_PROCESSED_INPUT)) {
        raw_mode = true;
    }
}

void console_restore() { restore_console(); }

bool console_key_waiting(std::uint32_t wait_ms) {
    probe();
    if (!pending.empty()) {
        return true;
    }
    if (ended) {
        return false;
    }
    if (is_console) {
        // Waiting on the handle is what makes a console fed by a terminal (wine's) take in the
        // typed keys, so the handle is waited on even when no time is to be spent.
        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD spent = GetTickCount() - start;
            const DWORD left = spent < wait_ms ? wait_ms - spent : 0;
            if (WaitForSingleObject(input, left) != WAIT_OBJECT_0) {
                return false;
            }
            take_console_records();
            if (!pending.empty()) {
                return true;
            }
            if (left == 0) {
                return false;
            }
        }
    }
    if (!stream_has_byte(wait_ms)) {
        return false;
    }
    const int c = read_stream_byte();
    if (c < 0) {
        return false;
    }
    pending.push_back(c);
    return true;
}

int console_read_key() {
    probe();
    while (pending.empty()) {
        if (ended) {
            return -1;
        }
        if (is_console) {
            WaitForSingleObject(input, INFINITE);
            take_console_records();
        } else {
            const int c = read_stream_byte();
            if (c < 0) {
                return -1;
            }
            pending.push_back(c);
        }
    }
    const int key = pending.front();
    pending.pop_front();
    return key;
}

bool console_input_ended() { return ended && pending.empty(); }

bool console_read_line(std::string& line, std::size_t limit) {
    probe();
    line.clear();
    const bool was_raw = raw_mode.load();
    if (was_raw) {
        SetConsoleMode(input, saved_mode | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    }
    // The console edits the line it reads itself; keys typed ahead of the question, and input
    // from a pipe, are edited here the same way, so that a Backspace among them erases.
    bool got_any = false;
    bool finished = false;
    while (!pending.empty() && !finished) {
        const int c = pending.front();
        pending.pop_front();
        got_any = true;
        finished = edit_line(line, c) == line_key::ended;
    }
    while (!finished) {
        char c = 0;
        DWORD n = 0;
        const BOOL ok = is_console ? ReadConsoleA(input, &c, 1, &n, nullptr)
                                   : ReadFile(input, &c, 1, &n, nullptr);
        if (!ok || n == 0) {
            if (!is_console) {
                ended = true;
            }
            break;
        }
        got_any = true;
        // A carriage return is followed by the line feed that ends the line.
        if (c != '\r') {
            finished = edit_line(line, static_cast<unsigned char>(c)) == line_key::ended;
        }
    }
    if (was_raw) {
        raw_mode = false;
        console_open();
    }
    if (line.size() > limit) {
        line.resize(limit);
    }
    return got_any;
}

void console_clear_screen() { std::system("cls"); }
