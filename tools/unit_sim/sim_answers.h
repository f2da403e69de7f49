// The messages the unit sends, built from its state: boot reports, download acknowledgements,
// the flash information of a bank, file blocks, EEPROM descriptions and log blocks. Every
// answer goes to the PC (DA 0x10) from the unit (SA 0x2A) under CMD 0x55 and carries at least
// P1 and P2. Also a general builder, which tests use to make requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "protocol/messages.h"
#include "tools/unit_sim/sim_memory.h"

using message_t = std::vector<std::uint8_t>;

// DA, SA, the length field, CMD, SUB, then the parameters as given (P1, P2, ...).
message_t make_message(std::uint8_t da, std::uint8_t sa, std::uint8_t cmd, std::uint8_t sub,
                       std::span<const std::uint8_t> params);

// An answer of the unit; parameters shorter than P1 P2 are filled with zeros.
message_t unit_answer(sub_code sub, std::span<const std::uint8_t> params);
message_t unit_answer(sub_code sub, std::initializer_list<std::uint8_t> params);

// Why the unit refuses a FILE_REQ or EEPROM_INFO_REQ (P1 of FILE_FAILED).
enum class file_error : std::uint8_t {
    not_in_loader = 1,  // file requests are served only by the boot loader in bank 0
    no_image = 2,       // the bank holds no valid image of that type
    past_end = 3,       // the block starts at or after the end of the file
    bad_request = 4,    // unknown file type, bank, channel or an unusable block size
    injected = 5,       // a fault injected on purpose
};

message_t bootinfo_answer(bool failed, std::uint8_t bank);
message_t chunk_answer(bool failed, std::uint16_t chunk);  // DL_ACK or DL_FAIL, P1-P2 the chunk

// FLASH_INFO of bank b (SUB 0x15 + b): P1 P2 zero, bank_info, bank_notes; length field 411.
message_t flash_info_answer(std::size_t bank_index, const flash_bank& bank);

// FILE_ACK of block `block`: the block size in P3-P4 and block_size data bytes. A block that
// runs past the end of the file is filled up with 0xFF, as erased flash reads.
message_t file_ack_answer(std::uint16_t block, std::uint16_t block_size,
                          std::span<const std::uint8_t> file);

message_t file_failed_answer(file_error error, std::uint32_t size, std::uint8_t file_type,
                             std::uint8_t number);

message_t eeprom_ack_answer(std::uint8_t file_type, std::uint8_t channel,
                            std::span<const std::uint8_t> content);

// MESSAGE_LOG_ACK of block `block`: the valid entries of the whole log, 80 bytes per entry,
// the capacity, the block number and the number of entry slots in a block, then those slots
// (an entry cut to 79 characters and NUL-padded; a slot past the last entry all NUL). Every
// block has the same number of slots, so that block k starts at entry k x 8 for the reader.
message_t log_answer(const unit_log& log, std::uint8_t block);

// Blocks the log is read in: capacity / entries per block.
inline constexpr std::size_t unit_log_blocks = unit_log_capacity / unit_log_block_entries;
