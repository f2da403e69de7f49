#include "protocol/boot.h"

#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

void boot_ends(unit& u, operation_state& state) {
    state = operation_state::idle;
    u.op.redraw_request = 1;
}

// A boot report: completes the boot, fails it, or (the boot loader on the way to the bank
// asked for) is passed over.
void take_report(unit& u, operation_state& state, std::uint8_t report) {
    const std::uint8_t reached = u.op.current_bank;
    const std::uint8_t asked = u.op.boot_bank;
    if (reached == asked) {
        out_printf("\n  Bootload completed\n");
        boot_ends(u, state);
    }
    // A failure report, or a third bank where neither is the boot loader's.
    if (report == boot_status_fail || (reached != asked && reached != 0 && asked != 0)) {
        report_operation_failure(u, "\n  Bootload failed. Recovered to bank\n");
        boot_ends(u, state);
    }
    u.op.boot_status = boot_status_none;
}

}  // namespace

void boot_started_step(unit&, operation_state& state, pace& boot_requests) {
    // The boot request cleared boot_status before it went out; clearing it here could lose a
    // report that has come in since.
    out_printf("  Waiting for bootload to complete\n");
    boot_requests.restart();
    state = operation_state::awaiting_boot;
}

void boot_waiting_step(unit& u, operation_state& state, pace& boot_requests, pace& marks) {
    const std::uint8_t report = u.op.boot_status;
    switch (await_answer(u, report != boot_status_none, state, u.budgets.boot, boot_timeout_ms)) {
    case wait_result::answered:
        take_report(u, state, report);
        return;
    case wait_result::gave_up:
        report_operation_failure(u, "\n  Bootload failed\n\r");
        boot_ends(u, state);
        u.op.boot_status = boot_status_none;
        break;
    case wait_result::waiting:
    case wait_result::ask_again:
        if (boot_requests.due(tick_count_ms())) {
            // Asked again and again while the unit reboots, yet the wait still counts from
            // the reboot request: a unit that never reports fails the boot instead of holding
            // the run.
            send_boot_info_poll(u);
        }
        break;
    }
    if (marks.due(tick_count_ms()) && u.op.verbose_level > 1) {
        out_printf(".");
    }
}
