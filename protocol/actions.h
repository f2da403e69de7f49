// What the session makes of the user's requests and of the command line's operations: each
// action sets up the loader state, sends the request that starts it and sets the state the loop
// carries it on in. The console only asks; these act.
#pragma once

#include <cstdint>

#include "platform/result.h"
#include "protocol/display.h"
#include "protocol/download_choice.h"
#include "protocol/operation_state.h"

struct unit;

// Keeps what the choice holds in the loader state: file type and bank once they were chosen,
// and once the file was checked its names (the first 25 characters of the name and the
// comment are what the unit records), size and times, with the download's counters at 0.
void record_download_choice(unit& u, const download_choice& choice);

// A get of a flash image or an EEPROM of the given type from the bank or channel. The image's
// size and CRC-32 come from the bank's record. A bank the unit did not report in its last round
// (its record lost on the line) has the bank table asked for again first (awaiting_bank_records),
// and the get is taken up again by resume_waiting_get once the table is in; a bank the unit still
// does not report is refused then ("Bank %d is unknown: ..."), and so is an image whose size
// block numbers cannot count; the failure is noted, the menu redrawn after 3 s, and the result
// says so. Otherwise an EEPROM's size and CRC-32 are asked for first; the unit is rebooted into
// its boot loader unless it runs it, else the first block is asked for; the state becomes
// uploading. The data go into a file of the output folder, or, to be compared with what was
// loaded, into memory (see upload.h).
result begin_get(unit& u, std::uint8_t file_type, std::uint8_t bank, operation_state& state,
                 bool into_memory = false);

// After the link was opened again on a new line (a cable pulled and put back), the operation
// under way goes on: a read from the block it had reached, a load from its beginning (the unit
// needs the whole image again), a wait for the unit with its question asked again. What goes on,
// for a line on screen ("the read goes on from block 17"); empty when nothing was under way.
std::string resume_on_new_line(unit& u, operation_state& state);

// The get that waited for the bank table, taken up again (a bank still not reported is refused
// now); nothing when none waits.
void resume_waiting_get(unit& u, operation_state& state);

// The log, from its first block, read twice (see upload.h); viewed (listed at the end) or only
// written to its file.
void begin_log(unit& u, bool view, operation_state& state);

// A reboot into the bank; the boot wait follows.
void begin_boot(unit& u, std::uint8_t bank, operation_state& state);

// A new connection after a failed one: asked for again at the first time-out, with its whole
// budget, after the line was purged.
void reconnect(unit& u, operation_state& state);

// The serial line to remote access: LOADER_EXIT twice, "Change to Polling mode\n", 'R'.
void to_remote_access(unit& u);
// Back to loader mode: '#' twice, "Change to interrupt mode\n", the menu drawn afresh.
void to_loader_mode(unit& u, loader_display& display);
// A key of remote access, sent to the unit as it is.
void send_remote_key(unit& u, std::uint8_t key);

// The trace level; only its low 8 bits count.
void set_trace_level(unit& u, int level);
