#include "protocol/run_outcome.h"

namespace {
// Main thread only.
bool failed = false;
}  // namespace

void note_operation_failed() { failed = true; }
bool operation_failed() { return failed; }
void reset_run_outcome() { failed = false; }
