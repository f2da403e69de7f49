// The window trap on Windows x86-64 (and under wine): PAGE_NOACCESS memory and a vectored
// exception handler that works on the thread's CONTEXT record.
#include <windows.h>

#include <cstdlib>
#include <mutex>

#include "tools/card_sim/window_registry.h"

namespace {

void* handler_handle = nullptr;
std::mutex install_mutex;

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
    EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* c = pointers->ContextRecord;
    trapped_registers registers{{reinterpret_cast<std::uint64_t*>(&c->Rax),
                                 reinterpret_cast<std::uint64_t*>(&c->Rcx),
                                 reinterpret_cast<std::uint64_t*>(&c->Rdx),
                                 reinterpret_cast<std::uint64_t*>(&c->Rbx),
                                 reinterpret_cast<std::uint64_t*>(&c->Rsp),
                                 reinterpret_cast<std::uint64_t*>(&c->Rbp),
                                 reinterpret_cast<std::uint64_t*>(&c->Rsi),
                                 reinterpret_cast<std::uint64_t*>(&c->Rdi),
                                 reinterpret_cast<std::uint64_t*>(&c->R8),
                                 reinterpret_cast<std::uint64_t*>(&c->R9),
                                 reinterpret_cast<std::uint64_t*>(&c->R10),
                                 reinterpret_cast<std::uint64_t*>(&c->R11),
                                 reinterpret_cast<std::uint64_t*>(&c->R12),
                                 reinterpret_cast<std::uint64_t*>(&c->R13),
                                 reinterpret_cast<std::uint64_t*>(&c->R14),
                                 reinterpret_cast<std::uint64_t*>(&c->R15)}};
    std::size_t step = 0;
    const auto address = static_cast<std::uintptr_t>(record->ExceptionInformation[1]);
    const auto* code = reinterpret_cast<const std::uint8_t*>(c->Rip);
    if (emulate_window_access(address, code, registers, step) == trap_outcome::emulated) {
        c->Rip += step;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;  // the handlers behind this one decide
}

void install() {
    const std::lock_guard<std::mutex> lock(install_mutex);
    if (handler_handle == nullptr) {
        handler_handle = AddVectoredExceptionHandler(1, on_exception);
    }
}

}  // namespace

void* map_trapped_window(std::size_t size, window_device& device) {
    install();
    void* base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    if (base == nullptr) {
        return nullptr;
    }
    if (!register_window(base, size, device)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    return base;
}

void unmap_trapped_window(void* base, std::size_t) {
    unregister_window(base);
    VirtualFree(base, 0, MEM_RELEASE);
}

void trap_fatal(const char* text, std::size_t length) noexcept {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written,
              nullptr);
    std::abort();
}
