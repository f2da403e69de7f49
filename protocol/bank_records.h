// What the unit reports about its flash banks. FLASH_INFO arrives on the receiver thread, which
// keeps each bank's record as it came off the wire; the main loop takes the records into the bank
// table in host order, once each, whichever of them arrived. A bank asked for in the latest round
// whose record never came is unknown: its old numbers are not to be trusted.
#pragma once

#include <cstddef>
#include <cstdint>

// Receiver thread: keeps what a FLASH_INFO for `bank` (0-3) carried, `info_bytes` (at most 192)
// of its bank_info and `notes_bytes` (at most 216) of its bank_notes, and announces it.
void store_bank_report(std::size_t bank, const std::uint8_t* info, std::size_t info_bytes,
                       const std::uint8_t* notes, std::size_t notes_bytes);

// Main loop: takes every record that arrived since the last call into `banks` and `notes`,
// converted to host order. A record that covers part of a bank_info replaces that part only.
void take_bank_reports();

// Main loop: a round of FLASH_INFO starts; every bank is unknown until its record arrives.
void begin_bank_round();

// True when the latest round asked for the bank and its record has not arrived.
bool bank_unknown(std::size_t bank);

// True when the bank's record came from the unit (in the latest round or an earlier one that
// the latest has not replaced); false for start values and unknown banks.
bool bank_reported(std::size_t bank);

// Back to the start: no round asked, nothing waiting (start-up and tests).
void reset_bank_reports();
