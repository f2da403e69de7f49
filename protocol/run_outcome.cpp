#include "protocol/run_outcome.h"

#include "platform/output.h"
#include "protocol/unit.h"

void note_operation_failed(unit& u, std::string_view reason) {
    ++u.outcome.failures;
    u.outcome.last_reason.assign(reason);
}

void report_operation_failure(unit& u, std::string_view printed) {
    out_write(printed.data(), printed.size());
    constexpr std::string_view framing = " \n\r";
    const std::size_t first = printed.find_first_not_of(framing);
    if (first == std::string_view::npos) {
        note_operation_failed(u, {});
        return;
    }
    note_operation_failed(u, printed.substr(first, printed.find_last_not_of(framing) - first + 1));
}

bool operation_failed(const unit& u) { return u.outcome.failures != 0; }

std::uint32_t failures_noted(const unit& u) { return u.outcome.failures; }

const std::string& last_failure_reason(const unit& u) { return u.outcome.last_reason; }
