// POSIX thread: pthreads, with SCHED_FIFO at its highest level as time-critical priority.
#include "platform/thread.h"

#include "platform/output.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

struct os_thread::state {
    pthread_t thread{};
    bool running = false;
    procedure body;
    std::mutex mutex;
    std::condition_variable ended_signal;
    bool ended = false;
};

namespace {
void* trampoline(void* argument) {
    auto* s = static_cast<os_thread::state*>(argument);
    s->body();
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->ended = true;
    }
    s->ended_signal.notify_all();
    return nullptr;
}
}  // namespace

os_thread::os_thread() : state_(std::make_unique<state>()) {}

os_thread::~os_thread() {
    // A thread still running at this point is left to the end of the process.
    if (state_->running) {
        pthread_detach(state_->thread);
        static_cast<void>(state_.release());  // the thread still uses it
    }
}

bool os_thread::start(procedure body, os_error& error) {
    // The new thread writes its lines as this one does (with the prefix of its unit).
    state_->body = out_with_this_prefix(std::move(body));
    {
        // A thread started again after the last one ended and was waited for.
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->ended = false;
    }
    const int result = pthread_create(&state_->thread, nullptr, trampoline, state_.get());
    if (result != 0) {
        error = os_error{static_cast<std::uint32_t>(result),
                         os_error_text(static_cast<std::uint32_t>(result))};
        return false;
    }
    state_->running = true;
    return true;
}

bool os_thread::raise_priority(os_error& error) {
    sched_param parameter{};
    parameter.sched_priority = sched_get_priority_max(SCHED_FIFO);
    const int result = pthread_setschedparam(state_->thread, SCHED_FIFO, &parameter);
    if (result == 0 || result == EPERM) {
        return true;
    }
    error = os_error{static_cast<std::uint32_t>(result),
                     os_error_text(static_cast<std::uint32_t>(result))};
    return false;
}

bool os_thread::wait(std::uint32_t milliseconds) {
    if (!state_->running) {
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!state_->ended_signal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                           [this] { return state_->ended; })) {
            return false;
        }
    }
    pthread_join(state_->thread, nullptr);
    state_->running = false;
    return true;
}

bool os_thread::started() const { return state_->running; }
