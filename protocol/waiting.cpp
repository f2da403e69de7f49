#include "protocol/waiting.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/unit.h"

namespace {

constexpr std::uint32_t keep_alive_interval_ms = 10000;
constexpr std::uint32_t silence_warning_ms = 20000;

}  // namespace

wait_result await_answer(unit& u, bool answered, operation_state& state, int& budget,
                         std::uint32_t timeout_ms, last_try last) {
    if (answered) {
        return wait_result::answered;
    }
    const std::uint32_t now = tick_count_ms();
    const auto waited = static_cast<std::int32_t>(now - u.op.last_request_tick);
    // A time-out of 0 (the answer came broken) is over at once.
    if (timeout_ms != 0 && waited <= static_cast<std::int32_t>(timeout_ms)) {
        return wait_result::waiting;
    }
    if (u.op.verbose_level > 5) {
        out_printf("Retry Local: %d Global: %d\n", budget, u.op.retry_count);
    }
    if (budget == 0) {
        state = operation_state::idle;
        u.op.redraw_request = 1;
        report_operation_failure(u, "Timeout. Operation aborted\n");
        return wait_result::gave_up;
    }
    ++u.op.retry_count;
    --budget;
    return budget > 0 || last == last_try::asks_again ? wait_result::ask_again
                                                       : wait_result::gave_up;
}

std::uint32_t transfer_timeout_ms(const unit& u, std::uint32_t slowest_ms) {
    if (u.answer_damaged) {
        return 0;
    }
    if (slowest_ms == 0) {
        return answer_timeout_ms;
    }
    return std::min(answer_timeout_ms,
                    std::max(silence_floor_ms, silence_factor * slowest_ms));
}

void note_answer_time(const unit& u, std::uint32_t& slowest_ms) {
    const std::uint32_t took = tick_count_ms() - u.op.last_request_tick;
    slowest_ms = std::max({slowest_ms, took, std::uint32_t{1}});
}

void keep_alive_step(unit& u) {
    if (u.link.mode() != line_mode::loader) {
        return;
    }
    const std::uint32_t now = tick_count_ms();
    if (now - u.op.last_send_tick <= keep_alive_interval_ms) {
        return;
    }
    u.op.last_send_tick = now;
    if (!send_keep_alive(u)) {
        return;  // the link has failed: the session ends the run
    }
    const std::uint32_t heard = u.link.last_heard();
    silence_watch& watch = u.silence;
    if (watch.warned && heard != watch.warned_for) {
        watch.warned = false;  // the unit has spoken since the last warning
    }
    // Only a question still unanswered makes the silence worth a warning: an idle unit has
    // nothing to say, as KEEP_ALIVE itself has no answer.
    const bool awaiting = static_cast<std::int32_t>(u.op.last_request_tick - heard) > 0;
    if (!watch.warned && awaiting && now - heard > silence_warning_ms) {
        out_printf("Keep alive timeout. Start operation again\n");
        watch.warned = true;
        watch.warned_for = heard;
    }
}
