#include "protocol/run_outcome.h"

#include "platform/output.h"

namespace {
// Main thread only.
std::uint32_t failures = 0;
std::string reason_of_last;
}  // namespace

void note_operation_failed(std::string_view reason) {
    ++failures;
    reason_of_last.assign(reason);
}

void report_operation_failure(std::string_view printed) {
    out_write(printed.data(), printed.size());
    constexpr std::string_view framing = " \n\r";
    const std::size_t first = printed.find_first_not_of(framing);
    if (first == std::string_view::npos) {
        note_operation_failed({});
        return;
    }
    note_operation_failed(printed.substr(first, printed.find_last_not_of(framing) - first + 1));
}

bool operation_failed() { return failures != 0; }

std::uint32_t failures_noted() { return failures; }

const std::string& last_failure_reason() { return reason_of_last; }

void reset_run_outcome() {
    failures = 0;
    reason_of_last.clear();
}
