// The pace of what a wait repeats while it waits, by the clock: progress marks, and the boot
// report asked for again while a reboot runs.
#pragma once

#include <cstdint>

// A progress mark every 16 ms, and BOOTINFO_REQ every 160 ms while waiting for a boot report.
// The loop used to count passes for these (a mark every 10,000 passes, a request every 100,000);
// with a terminal as its console it made 625,000 passes a second, which these times keep.
inline constexpr std::uint32_t progress_mark_interval_ms = 16;
inline constexpr std::uint32_t boot_request_interval_ms = 160;

// Something repeated every interval: due at the first look, then once each interval after the
// time it was last due.
class pace {
public:
    explicit constexpr pace(std::uint32_t interval_ms) : interval_ms_(interval_ms) {}

    bool due(std::uint32_t now_ms) {
        if (started_ && now_ms - last_ms_ < interval_ms_) {
            return false;
        }
        started_ = true;
        last_ms_ = now_ms;
        return true;
    }
    // The next look is due at once.
    void restart() { started_ = false; }

private:
    std::uint32_t interval_ms_;
    std::uint32_t last_ms_ = 0;
    bool started_ = false;
};
