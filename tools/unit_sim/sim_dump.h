// What a simulated unit stores, written out as files, so that a script can compare it with
// what was loaded: every valid bank image and every EEPROM, each under the name Kestrel gives
// the same image when it fetches it (FW_Bank2.bin, SW_Bank1.srec, Controller.eeprom,
// PA_Channel3.eeprom), and the log as Kestrel writes it (log.txt: each entry in its 80-byte
// slot, NUL-padded).
#pragma once

#include <filesystem>

#include "tools/unit_sim/sim_memory.h"

// Creates the folder if needed and writes the files. Throws std::runtime_error with a text for
// the user when a file cannot be written.
void dump_memory(const unit_memory& memory, const std::filesystem::path& folder);
