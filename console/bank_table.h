// The bank table: what the FPGA image and the software image of each of the four flash banks
// are, as the unit reported them.
#pragma once

struct unit;

// Prints the table from the unit's bank records (nothing is asked of the unit).
void print_bank_info(const unit& u);
