// Whether every operation of a run succeeded. Each failure (a connection that could not be
// made, an operation that ended in an error or was refused) is noted here, so that a
// command-line run can end with a status that tells a script about it.
#pragma once

// The exit status of a command-line run in which the connection or an operation failed.
inline constexpr int exit_operation_failed = 4;

void note_operation_failed();
bool operation_failed();
// Back to "nothing failed" (the start of a run, and tests).
void reset_run_outcome();
