// Whether every operation of a run succeeded. Each failure (a connection that could not be
// made, an operation that ended in an error or was refused) is noted here with a short reason,
// so that a command-line run can end with a status that tells a script about it, and its
// report can say why an operation failed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The exit status of a command-line run in which the connection or an operation failed.
inline constexpr int exit_operation_failed = 4;

void note_operation_failed(std::string_view reason);
// Prints the failure's line exactly as given and notes it, without the blanks and line ends
// around it, as the reason.
void report_operation_failure(std::string_view printed);
bool operation_failed();
// How many failures were noted so far, and the reason of the last one.
std::uint32_t failures_noted();
const std::string& last_failure_reason();
// Back to "nothing failed" (the start of a run, and tests).
void reset_run_outcome();
