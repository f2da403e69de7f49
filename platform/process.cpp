#include "platform/process.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<exit_hook> hook{nullptr};
}

void process_exit(int status) {
    std::fflush(stdout);
    if (exit_hook h = hook.load(std::memory_order_acquire)) {
        h(status);
        // A hook that returns has broken its contract; the run must still end.
        std::abort();
    }
    std::exit(status);
}

void process_set_exit_hook(exit_hook h) { hook.store(h, std::memory_order_release); }
