// The progress line of the session: while a download, an upload or a log fetch runs and the
// output is a terminal, one line rewritten in place at most ten times a second, taken away when
// the transfer ends. Nothing at all when the output is not a terminal.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/operation_state.h"
#include "protocol/transfer_progress.h"

struct unit;

inline constexpr std::uint32_t progress_refresh_ms = 100;
// The rate is shown once the transfer has run this long since its first chunk or block.
inline constexpr std::uint32_t rate_settle_ms = 500;
// A transfer that has not moved for this long shows that it waits for the unit instead.
inline constexpr std::uint32_t silence_shown_ms = 3000;

class progress_meter {
public:
    // Once a pass, after the state's step: draws or refreshes the line for the unit's transfer
    // in that state, or takes it away when no transfer runs.
    void update(const unit& u, operation_state state);
    // Takes the line away.
    void clear();

private:
    // The rate in bytes per second since the first bytes went through, once it can be told.
    std::optional<double> rate(const transfer_progress& now, std::uint32_t tick) const;

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
