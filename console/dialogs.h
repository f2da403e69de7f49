// The dialogs that set up each operation: which bank or EEPROM channel, which kind of image,
// which file, what comment. They fill the loader state and, for the get, boot and log
// operations, send the first request; the state machine carries the operation on. In a
// command-line run the same functions are called with the answers already known.
#pragma once

// Kinds of the load and get dialogs.
inline constexpr int dialog_eeprom = 1;
inline constexpr int dialog_flash = 2;

// Results of load_dialog.
inline constexpr int load_go = 0;         // answered: the download may start
inline constexpr int load_failed = 1;     // no file chosen, or the file does not exist
inline constexpr int load_cancelled = 2;  // q, or no at the bank-0 question
inline constexpr int load_declined = -1;  // no at "OK to load this file"

// Interactive when file is null; in a command-line run file and comment come from the options
// (file_type and bank already set) and nothing is asked. A file name of 80 characters or more
// is refused (result 1). The full name is kept in file_path, for opening; file_name and comment
// keep their first 25 characters.
int load_dialog(int kind, const char* file = nullptr, const char* comment = nullptr);

// Returns 0 when the get was started (op state 13), 2 when cancelled (op state and loader state
// unchanged), 3 when refused because the unit did not report the bank's record (op state
// unchanged, the failure noted). In a command-line run (batch_mode) file_type and bank are already set and the
// output folder made at start is kept.
int get_dialog(int kind, int& op_state);

// Returns 1 when a boot request was sent, 2 when cancelled. `bank` is used in a command-line
// run (batch_mode) only, where nothing is asked.
int boot_dialog(int bank);

// Asks for the verbose level; returns 0.
int verbose_dialog();

// Asks for the first block of the log; op state 12. Returns 0.
int start_get_log(int& op_state);
