// Damage the line cannot see: bit 7 of one byte of an answer's data flipped. The serial
// checksum covers only the low four bits of each byte, so the frame built over the damaged
// message is valid and only a check of what the data mean (a file's CRC-32, a log entry's
// text) shows it. The byte is chosen from the block number, so a run can be repeated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "tools/unit_sim/sim_answers.h"

inline constexpr std::uint8_t unseen_damage_bit = 0x80;

// In a FILE_ACK whose first `file_bytes` data bytes belong to the file (1 to the block size;
// the rest is fill): flips data byte (block x 7) mod file_bytes. Returns the offset of that
// byte in the message; nothing when the answer holds no file data.
std::optional<std::size_t> damage_file_block(message_t& answer, std::size_t file_bytes);

// In a MESSAGE_LOG_ACK: flips one character of an entry the block holds, entry (block mod
// entries held), character (block x 7) mod the entry's length (the first byte of an empty
// entry). Returns the offset of that byte in the message; nothing when the block holds no
// entry.
std::optional<std::size_t> damage_log_block(message_t& answer);
