#include "platform/process.h"

#include "platform/process_os.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<exit_hook> hook{nullptr};

constexpr std::size_t max_handlers = 8;
std::array<std::atomic<void (*)()>, max_handlers> handlers{};
std::atomic<std::size_t> handler_count{0};
std::atomic<bool> handlers_done{false};

std::atomic<int> ending_status{0};

std::array<std::atomic<void (*)()>, max_handlers> signal_handlers{};
std::atomic<std::size_t> signal_handler_count{0};
std::atomic<bool> signal_handlers_done{false};

std::atomic<bool> handlers_finished{false};
thread_local bool handlers_running_here = false;

// Runs every handler once, whichever way out comes first. A second thread on its way out (the
// receiver and the main loop may both meet a failing port) waits until the first has run them
// all, so that it cannot end the process half-way through them, between a removed file and
// the line that says so.
void run_handlers() {
    if (handlers_done.exchange(true, std::memory_order_acq_rel)) {
        while (!handlers_running_here && !handlers_finished.load(std::memory_order_acquire)) {
            std::this_thread::yield();
        }
        return;
    }
    handlers_running_here = true;
    for (std::size_t k = handler_count.load(std::memory_order_acquire); k-- > 0;) {
        if (auto h = handlers[k].load(std::memory_order_acquire)) {
            h();
        }
    }
    std::fflush(stdout);
    handlers_finished.store(true, std::memory_order_release);
}

void call_hook(int status) {
    if (exit_hook h = hook.load(std::memory_order_acquire)) {
        h(status);
        // A hook that returns has broken its contract; the run must still end.
        std::abort();
    }
}

}  // namespace

void process_exit(int status) {
    std::fflush(stdout);
    call_hook(status);
    ending_status.store(status);
    run_handlers();
    std::exit(status);
}

void process_exit_now(int status) {
    std::fflush(stdout);
    call_hook(status);
    ending_status.store(status);
    run_handlers();
    std::fflush(stdout);
    std::_Exit(status);
}

void process_at_exit(void (*handler)()) {
    const std::size_t k = handler_count.load(std::memory_order_acquire);
    if (k < max_handlers) {
        handlers[k].store(handler, std::memory_order_release);
        handler_count.store(k + 1, std::memory_order_release);
        if (k == 0) {
            std::atexit(run_handlers);
        }
    }
}

void process_on_signal(void (*handler)()) {
    const std::size_t k = signal_handler_count.load(std::memory_order_acquire);
    if (k < max_handlers) {
        signal_handlers[k].store(handler, std::memory_order_release);
        signal_handler_count.store(k + 1, std::memory_order_release);
    }
    os_install_signal_handler();
}

void process_catch_signals() { os_install_signal_handler(); }

int process_ending_status() noexcept { return ending_status.load(); }

void run_signal_handlers(int status) noexcept {
    if (signal_handlers_done.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    ending_status.store(status);
    for (std::size_t k = signal_handler_count.load(std::memory_order_acquire); k-- > 0;) {
        if (auto h = signal_handlers[k].load(std::memory_order_acquire)) {
            h();
        }
    }
}

void process_set_exit_hook(exit_hook h) { hook.store(h, std::memory_order_release); }
