// POSIX: the signals that end a run are caught once, the registered handlers run inside the
// handler, and the signal is raised again with its default action, so that the process ends as
// it would have ended without the program's handler (the shell sees the signal).
#include "platform/process_os.h"

#include <signal.h>

#include <atomic>

namespace {

std::atomic<bool> installed{false};

// A process ended by a signal shows as 128 + its number to a shell.
constexpr int signal_status_base = 128;

void on_signal(int signal_number) {
    run_signal_handlers(signal_status_base + signal_number);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

void os_install_signal_handler() {
    if (installed.exchange(true)) {
        return;
    }
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        // A signal the program was started with ignored (nohup, a background job of a script)
        // stays ignored: it does not end the run, so there is nothing to do for it.
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(s, &action, nullptr);
    }
}
