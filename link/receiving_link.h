// What every real link has beside its line: the receiver thread, started with its body, raised
// to time-critical priority, told to stop and waited for; and when the unit was last heard from.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "link/unit_link.h"
#include "platform/thread.h"

class receiving_link : public unit_link {
public:
    std::uint32_t last_heard() const override {
        return last_heard_.load(std::memory_order_acquire);
    }
    void mark_heard(std::uint32_t tick) override {
        last_heard_.store(tick, std::memory_order_release);
    }
    bool stop(std::uint32_t wait_ms) override;

protected:
    // Starts the receiver with its body; the result tells a thread that cannot be started.
    result start_receiver(std::function<int()> body);
    // True once the receiver has been told to stop.
    bool stopping() const { return stop_.load(std::memory_order_acquire); }
    // For the derived link's destructor: stops a receiver still running and waits for it, so
    // that it ends before what it uses goes.
    void end_receiver();

    std::atomic<std::uint32_t> last_heard_{0};

private:
    std::atomic<bool> stop_{false};
    os_thread thread_;
};
