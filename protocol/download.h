// A download: one file from the PC into a flash bank or an EEPROM. The file is read whole,
// announced (DL_REQ, then FIRMWARE_INFO with its size and CRC-32) and sent in numbered chunks,
// each acknowledged by the unit before the next goes. Every download ends by reading the flash
// information again, so that the bank records show its result.
#pragma once

#include <cstdint>

#include "protocol/pace.h"

// Chunk numbers travel in 16 bits: a file needing more chunks cannot be numbered.
inline constexpr std::uint32_t max_chunks = 65536;

// state2: reads the file, works out chunks and CRC-32, sends DL_REQ.
void download_prepare(int& op_state);
// state3: waits for DL_READY (the unit may first reboot into its boot loader), with progress
// marks at the pace given.
void download_wait_ready(int& op_state, pace& marks);
// state4: waits for FIRMWARE_INFO_ACK.
void download_wait_info_ack(int& op_state);
// state5: sends the next chunk, or ends the download when every chunk was acknowledged.
void send_next_chunk(int& op_state);
// state6: waits for the chunk's DL_ACK or DL_FAIL; a time-out sends the chunk again.
void download_wait_chunk(int& op_state);
// Prints the text on a line of its own, ends the download and asks for the flash information.
void end_download(int& op_state, const char* text);
