// Win32: the console's Ctrl-C, Ctrl-Break, close, logoff and shutdown events are caught once;
// the registered handlers run on the thread the system starts for the event, and the default
// handler then ends the process.
#include "platform/process_os.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> installed{false};

BOOL WINAPI on_console_event(DWORD) {
    // The default handler that runs next ends the process with this code.
    run_signal_handlers(static_cast<int>(STATUS_CONTROL_C_EXIT));
    return FALSE;
}

}  // namespace

void os_install_signal_handler() {
    if (installed.exchange(true)) {
        return;
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
