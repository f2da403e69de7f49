#include "app/progress_meter.h"

#include <utility>

#include "console/progress_line.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "platform/process.h"

namespace {

// Without a known width the line stays within the narrowest usual console.
constexpr std::size_t default_columns = 80;

// A run ended by a signal while the line is shown leaves the shell's prompt a clean line.
// The handler belongs to the process, so it is registered once, whichever session shows a line.
void erase_on_signal() {
    static const bool registered = [] {
        process_on_signal(&out_status_clear_now);
        return true;
    }();
    (void)registered;
}

bool same_transfer(const transfer_progress& a, const transfer_progress& b) {
    // A restart of the same file (the log asked for again) counts down: a new transfer.
    return a.kind == b.kind && a.name == b.name && b.done >= a.done;
}

}  // namespace

std::optional<progress_view> progress_meter::update(const unit& u, operation_state state) {
    if (!is_transfer_state(state)) {
        clear();
        return std::nullopt;
    }
    const std::uint32_t now = tick_count_ms();
    if (running_ && now - last_look_ < progress_refresh_ms) {
        return std::nullopt;
    }
    running_ = true;
    last_look_ = now;
    const bool drawn = draw_ && out_is_terminal();
    std::optional<transfer_progress> transfer = running_transfer(u, state);
    if (!transfer) {
        return std::nullopt;
    }
    if (!measured_ || !same_transfer(*measured_, *transfer)) {
        first_tick_.reset();
        first_done_ = 0;
        moved_tick_ = now;
        moved_done_ = transfer->done;
        retries_at_start_ = transfer->retries;
    }
    if (transfer->done != moved_done_) {
        moved_tick_ = now;
        moved_done_ = transfer->done;
    }
    // A unit that stops answering keeps the transfer waiting for its retries: say so, rather
    // than leave a line that looks frozen.
    std::optional<unit_silence> silence;
    if (now - moved_tick_ >= silence_shown_ms) {
        silence = unit_silence{(now - moved_tick_) / 1000u, transfer->retries - retries_at_start_};
    }
    if (!first_tick_ && transfer->done > 0) {
        first_tick_ = now;
        first_done_ = transfer->done;
    }
    const std::optional<double> bytes_per_second = rate(*transfer, now);
    if (drawn) {
        std::size_t columns = out_terminal_columns();
        if (columns == 0) {
            columns = default_columns;
        }
        erase_on_signal();
        // One column short of the width: a line that reaches the last column wraps on a console.
        out_status(progress_line(*transfer, bytes_per_second, columns - 1, silence));
    }
    measured_ = transfer;
    return progress_view{std::move(*transfer), bytes_per_second, silence};
}

bool progress_meter::clear() {
    if (!running_) {
        return false;
    }
    if (draw_) {
        out_status_clear();
    }
    running_ = false;
    measured_.reset();
    first_tick_.reset();
    first_done_ = 0;
    return true;
}

std::optional<double> progress_meter::rate(const transfer_progress& now,
                                           std::uint32_t tick) const {
    if (!first_tick_ || now.done <= first_done_) {
        return std::nullopt;
    }
    const std::uint32_t elapsed = tick - *first_tick_;
    if (elapsed < rate_settle_ms) {
        return std::nullopt;
    }
    return static_cast<double>(now.done - first_done_) * 1000.0 / elapsed;
}
