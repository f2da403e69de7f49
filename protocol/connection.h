// Connecting to the unit: its boot report first, then the records of all four flash banks.
// Each step is one pass of its state.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/display.h"
#include "protocol/operation_state.h"

struct unit;

// The start of a run: the loader's tables and records as at program start, the user (its first
// 25 characters), trace level, safe mode and lowest bank recorded, the line purged, and the
// first request: SAFEMODE_REQ in safe mode, else BOOTINFO_REQ.
void start_connection(unit& u, const std::string& user_name, std::uint32_t verbose,
                      bool safemode, bool bank0);

// awaiting_boot_report: on the report the connection is made and the bank records are asked
// for. False when the tries are used up and a command-line run is to end.
bool connecting_step(unit& u, operation_state& state);

// awaiting_bank_records: the menu is drawn afresh when the record of bank 3 is in.
void bank_records_step(unit& u, operation_state& state, loader_display& display);
