// Command-line operations: a run is a command-line (batch) run when any of the options bank ...
// get_prom was given; its operations are then performed one after another in the order in
// which they stand on the command line, each started through the same actions as from the menu.
#pragma once

#include <cstdint>

#include "app/options.h"
#include "app/run_journal.h"
#include "protocol/operation_state.h"

struct unit;

// True when any of the first fourteen options (bank to get_prom) was given.
bool is_batch_run(const option_table& options);

// The index of the option that stands next on the command line after the argument position
// `cursor` (the last one handed out, which only grows), or -1 when none is left. Positions 1 to
// 24 are visited in order, each once.
int next_operation_option(const option_table& options, int& cursor);

// 0 when the unit's first_bank <= bank <= 3; otherwise prints "Invalid bank %d. Only Bank %d to
// 3 in valid\n" and returns 1.
int check_bank(const unit& u, std::int32_t bank);

// Starts the next command-line operation on the unit: returns the index of the option it
// handled (also when it started nothing), or -1 when the run is to end. Each operation started
// or refused is recorded in the journal, when one is given.
int start_batch_operation(unit& u, option_table& options, int& cursor, operation_state& state,
                          run_journal* journal = nullptr);
