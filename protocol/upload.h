// Fetching from the unit, block by block, each block asked for by number: a stored image or an
// EEPROM (written to a file of the output folder, its CRC-32 checked against what the unit
// reports) and the unit's log (written to "log.txt", and listed on screen when asked).
#pragma once

// state13: one pass of a file upload.
void upload_pass(int& op_state);

// state12 and state14: one pass of the log retrieval; state14 lists the log at the end.
void log_pass(int& op_state);

// An upload given up before its last block (another operation started, the end of the run):
// its unfinished file is removed.
void abandon_upload();
