// Fetching from the unit, block by block, each block asked for by number: a stored image or an
// EEPROM (written to a file of the output folder, its CRC-32 checked against what the unit
// reports) and the unit's log (written to "log.txt", and listed on screen when asked).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/answers.h"
#include "protocol/display.h"
#include "protocol/operation_state.h"

struct unit;

// The last FILE_ACK taken in: its block number and the data it carried.
struct file_block {
    std::uint16_t number = 0;
    std::vector<std::uint8_t> data;
};

// A get from a bank whose record had not come, waiting for the bank table asked for again.
struct pending_get {
    std::uint8_t file_type = 0;
    std::uint8_t bank = 0;
    bool into_memory = false;
};

// What an upload carries from block to block.
struct upload_state {
    std::uint32_t running_crc = 0;  // of the blocks received so far
    // What the get under way asked for. EEPROM_ACK names the type and channel it answers for,
    // and the loader record takes them; an answer for anything else must not be fetched under
    // this get's name.
    std::uint8_t asked_type = 0;
    std::uint8_t asked_bank = 0;
    // An upload that reads back into memory instead of a file, for a comparison.
    bool into_memory = false;
    std::vector<std::uint8_t> read_back;
    bool read_back_complete = false;  // every block in and the CRC-32 matched
    // The log's layout as its last block taken in gave it.
    log_block_report log_layout{};
    // The file as read so far (each block, the last cut to the file's size): a read whose
    // CRC-32 does not match what the unit reports is repaired from it. Every block is read
    // again, a block that differs between reads is read until two reads agree, and the CRC-32
    // is checked again, for a bounded number of passes.
    std::vector<std::uint8_t> content;
    std::uint32_t block_length = 0;  // of the blocks of this transfer
    int repair_pass = 0;             // 0 while the file is first read
    std::vector<std::vector<std::uint8_t>> block_reads;  // of a block that differed, this pass
    std::uint32_t blocks_read_again = 0;  // block reads after the first read of the file or log
    // The log: its first read whole, while the second is compared with it.
    std::vector<std::uint8_t> first_log;
    int log_read = 0;  // 1 while the log is first read, 2 while it is read again
    // A get waiting for the bank table asked for again.
    std::optional<pending_get> waiting_get;
    // The slowest answer of this read so far (0 before the first), which sets how long a
    // silence is waited out; and the block (or log block) last taken in, whose late second
    // answer, after it was asked for again, is dropped.
    std::uint32_t slowest_answer_ms = 0;
    int last_block_taken = -1;
};

// uploading: one pass of a file upload.
void upload_pass(unit& u, operation_state& state);

// fetching_log and fetching_log_to_view: one pass of the log retrieval; the second lists the
// log at the end.
void log_pass(unit& u, operation_state& state, loader_display& display);

// Passes over a file whose CRC-32 does not match before the read is given up, and reads of a
// block that differs between reads before the pass takes its last read.
inline constexpr int repair_passes = 3;
inline constexpr std::size_t reads_of_a_block = 6;

// Where the next upload goes: into a file of the output folder (the normal get), or into
// memory, where a command-line run compares it with what it loaded. Set before the upload
// starts; what an earlier one left in memory is dropped, and so is the count of blocks read
// again.
void upload_into_memory(unit& u, bool into_memory);

// The file type and bank or channel the get asked for: an EEPROM_ACK that names another one
// ends the get with a message naming both, before anything is fetched. Set before the request.
void expect_upload_of(unit& u, std::uint8_t file_type, std::uint8_t bank);

// True, after a message giving the size and the failure noted, when a file of `size` bytes
// in blocks of `block_length` bytes needs more blocks than a block number can count or is
// larger than the largest image Kestrel can load: its block numbers would wrap.
bool refuse_upload_size(unit& u, std::uint8_t file_type, std::uint8_t bank, std::uint32_t size,
                        std::uint32_t block_length);

// A read taken up again on a new line (a cable pulled and put back): the block it had reached
// is asked for again, a block of the old line is not taken for it.
void resume_upload(unit& u);
void resume_log(unit& u);

// An upload given up before its last block (another operation started, the end of the run):
// its unfinished file is removed.
void abandon_upload(unit& u);

// How much of the log the running fetch has taken in, in bytes: the blocks received and the
// whole log, both 0 until its first block.
struct log_fetch_count {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};
log_fetch_count log_fetch_progress(const unit& u);
