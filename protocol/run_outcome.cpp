#include "protocol/run_outcome.h"

namespace {
// Main thread only.
std::uint32_t failures = 0;
std::string reason_of_last;
}  // namespace

void note_operation_failed(std::string_view reason) {
    ++failures;
    reason_of_last.assign(reason);
}

bool operation_failed() { return failures != 0; }

std::uint32_t failures_noted() { return failures; }

const std::string& last_failure_reason() { return reason_of_last; }

void reset_run_outcome() {
    failures = 0;
    reason_of_last.clear();
}
