// The progress of the session's transfer: while a download, an upload or a log fetch runs, a
// fresh view of it at most ten times a second, for the run's events and the live view of
// several units; and, for a single unit on a terminal, the progress line drawn from it,
// rewritten in place and taken away when the transfer ends (nothing when the output is not a
// terminal).
#pragma once

#include <cstdint>
#include <optional>

#include "console/progress_line.h"
#include "protocol/operation_state.h"
#include "protocol/transfer_progress.h"

struct unit;

inline constexpr std::uint32_t progress_refresh_ms = 100;
// The rate is shown once the transfer has run this long since its first chunk or block.
inline constexpr std::uint32_t rate_settle_ms = 500;
// A transfer that has not moved for this long shows that it waits for the unit instead.
inline constexpr std::uint32_t silence_shown_ms = 3000;

// A transfer as the meter last measured it: how far, how fast (bytes per second, once it can be
// told), and how long the unit has been silent, when it is.
struct progress_view {
    transfer_progress transfer;
    std::optional<double> rate;
    std::optional<unit_silence> silence;
};

class progress_meter {
public:
    // `draw`: the meter draws the progress line itself (one unit on a terminal).
    explicit progress_meter(bool draw = true) : draw_(draw) {}

    // Once a pass, after the state's step: measures the unit's transfer in that state and draws
    // or refreshes its line, or takes it away when no transfer runs. A fresh view when one was
    // taken this pass (at most every progress_refresh_ms).
    std::optional<progress_view> update(const unit& u, operation_state state);
    // Takes the line away; true when a transfer was running.
    bool clear();

private:
    // The rate in bytes per second since the first bytes went through, once it can be told.
    std::optional<double> rate(const transfer_progress& now, std::uint32_t tick) const;

    bool draw_;
    bool running_ = false;  // a transfer was seen in the last pass
    std::uint32_t last_look_ = 0;
    // The transfer measured, and where its rate is counted from.
    std::optional<transfer_progress> measured_;
    std::optional<std::uint32_t> first_tick_;
    std::uint64_t first_done_ = 0;
    // When the transfer last moved (or began), and the run's retries when it began.
    std::uint32_t moved_tick_ = 0;
    std::uint64_t moved_done_ = 0;
    int retries_at_start_ = 0;
};
