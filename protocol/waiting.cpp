#include "protocol/waiting.h"

#include "link/link_mode.h"
#include "link/receiver.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"

retry_budgets budgets;

namespace {

constexpr std::uint32_t keep_alive_interval_ms = 10000;
constexpr std::uint32_t silence_warning_ms = 20000;

// The silence already warned about: the time the unit was last heard from when the warning
// was given. A new warning needs something heard since.
bool warned = false;
std::uint32_t warned_for = 0;

}  // namespace

void reset_retry_budgets() {
    budgets = retry_budgets{};
    warned = false;
}

wait_result await_answer(bool answered, operation_state& state, int& budget,
                         std::uint32_t timeout_ms, last_try last) {
    if (answered) {
        return wait_result::answered;
    }
    const std::uint32_t now = tick_count_ms();
    const auto waited = static_cast<std::int32_t>(now - firmware_operation.last_request_tick);
    if (waited <= static_cast<std::int32_t>(timeout_ms)) {
        return wait_result::waiting;
    }
    if (firmware_operation.verbose_level > 5) {
        out_printf("Retry Local: %d Global: %d\n", budget, firmware_operation.retry_count);
    }
    if (budget == 0) {
        state = operation_state::idle;
        firmware_operation.redraw_request = 1;
        report_operation_failure("Timeout. Operation aborted\n");
        return wait_result::gave_up;
    }
    ++firmware_operation.retry_count;
    --budget;
    return budget > 0 || last == last_try::asks_again ? wait_result::ask_again
                                                       : wait_result::gave_up;
}

void keep_alive_step() {
    if (loader_mode.load(std::memory_order_acquire) != 1) {
        return;
    }
    const std::uint32_t now = tick_count_ms();
    if (now - firmware_operation.last_send_tick <= keep_alive_interval_ms) {
        return;
    }
    firmware_operation.last_send_tick = now;
    send_keep_alive();
    const std::uint32_t heard = last_receive_tick.load(std::memory_order_acquire);
    if (warned && heard != warned_for) {
        warned = false;  // the unit has spoken since the last warning
    }
    // Only a question still unanswered makes the silence worth a warning: an idle unit has
    // nothing to say, as KEEP_ALIVE itself has no answer.
    const bool awaiting = static_cast<std::int32_t>(firmware_operation.last_request_tick - heard) > 0;
    if (!warned && awaiting && now - heard > silence_warning_ms) {
        out_printf("Keep alive timeout. Start operation again\n");
        warned = true;
        warned_for = heard;
    }
}
