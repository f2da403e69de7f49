// The window trap on Linux x86-64: PROT_NONE mappings and a SIGSEGV handler with SA_SIGINFO
// that works on the saved machine context.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "tools/card_sim/window_registry.h"

namespace {

struct sigaction previous_action;
bool installed = false;
std::mutex install_mutex;

// Hands a fault that is not ours to the handler that was there before.
void pass_on(int signal_number, siginfo_t* info, void* context) {
    if ((previous_action.sa_flags & SA_SIGINFO) != 0 && previous_action.sa_sigaction != nullptr) {
        previous_action.sa_sigaction(signal_number, info, context);
        return;
    }
    if (previous_action.sa_handler == SIG_DFL || previous_action.sa_handler == SIG_IGN) {
        // The default action: restore it and let the instruction fault again.
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(SIGSEGV, &default_action, nullptr);
        return;
    }
    previous_action.sa_handler(signal_number);
}

void on_fault(int signal_number, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    auto* machine = static_cast<ucontext_t*>(context);
    greg_t* g = machine->uc_mcontext.gregs;
    static_assert(sizeof(greg_t) == sizeof(std::uint64_t));
    const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                           REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                           REG_R12, REG_R13, REG_R14, REG_R15};
    trapped_registers registers{};
    for (int k = 0; k < 16; ++k) {
        registers.reg[k] = reinterpret_cast<std::uint64_t*>(&g[order[k]]);
    }
    std::size_t step = 0;
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const auto* code = reinterpret_cast<const std::uint8_t*>(g[REG_RIP]);
    if (emulate_window_access(address, code, registers, step) == trap_outcome::emulated) {
        g[REG_RIP] += static_cast<greg_t>(step);
        errno = saved_errno;
        return;
    }
    errno = saved_errno;
    pass_on(signal_number, info, context);
}

void install() {
    const std::lock_guard<std::mutex> lock(install_mutex);
    if (installed) {
        return;
    }
    struct sigaction action {};
    action.sa_sigaction = on_fault;
    // SIGSEGV stays blocked while the handler runs: a fault inside it ends the process
    // instead of recursing.
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previous_action);
    installed = true;  // for the rest of the process: the library is pinned once it has a window
}

}  // namespace

void* map_trapped_window(std::size_t size, window_device& device) {
    install();
    void* base = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    if (!register_window(base, size, device)) {
        munmap(base, size);
        return nullptr;
    }
    return base;
}

void unmap_trapped_window(void* base, std::size_t size) {
    unregister_window(base);
    munmap(base, size);
}

void trap_fatal(const char* text, std::size_t length) noexcept {
    while (length > 0) {
        const ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0) {
            break;
        }
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    std::abort();
}
