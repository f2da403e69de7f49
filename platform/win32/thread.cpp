// Win32 thread: CreateThread, with THREAD_PRIORITY_TIME_CRITICAL.
#include "platform/thread.h"

#include "platform/output.h"

#include <windows.h>

#include <utility>

struct os_thread::state {
    HANDLE thread = nullptr;
    bool running = false;
    procedure body;
};

namespace {
DWORD WINAPI trampoline(LPVOID argument) {
    auto* s = static_cast<os_thread::state*>(argument);
    return static_cast<DWORD>(s->body());
}
}  // namespace

os_thread::os_thread() : state_(std::make_unique<state>()) {}

os_thread::~os_thread() {
    // A thread still running at this point is left to the end of the process.
    if (state_->running) {
        CloseHandle(state_->thread);
        static_cast<void>(state_.release());  // the thread still uses it
    }
}

bool os_thread::start(procedure body, os_error& error) {
    // The new thread writes its lines as this one does (with the prefix of its unit).
    state_->body = out_with_this_prefix(std::move(body));
    state_->thread = CreateThread(nullptr, 0, trampoline, state_.get(), 0, nullptr);
    if (state_->thread == nullptr) {
        error = last_os_error();
        return false;
    }
    state_->running = true;
    return true;
}

bool os_thread::raise_priority(os_error& error) {
    if (!SetThreadPriority(state_->thread, THREAD_PRIORITY_TIME_CRITICAL)) {
        error = last_os_error();
        return false;
    }
    return true;
}

bool os_thread::wait(std::uint32_t milliseconds) {
    if (!state_->running) {
        return true;
    }
    if (WaitForSingleObject(state_->thread, milliseconds) != WAIT_OBJECT_0) {
        return false;
    }
    CloseHandle(state_->thread);
    state_->running = false;
    return true;
}

bool os_thread::started() const { return state_->running; }
