// Whether every operation of a run on a unit succeeded. Each failure (a connection that could
// not be made, an operation that ended in an error or was refused) is noted with a short
// reason, so that a command-line run can end with a status that tells a script about it, and
// its report can say why an operation failed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct unit;

// The exit status of a command-line run in which the connection or an operation failed.
inline constexpr int exit_operation_failed = 4;

struct run_outcome {
    std::uint32_t failures = 0;
    std::string last_reason;
};

void note_operation_failed(unit& u, std::string_view reason);
// Prints the failure's line exactly as given and notes it, without the blanks and line ends
// around it, as the reason.
void report_operation_failure(unit& u, std::string_view printed);
bool operation_failed(const unit& u);
// How many failures were noted so far, and the reason of the last one.
std::uint32_t failures_noted(const unit& u);
const std::string& last_failure_reason(const unit& u);
