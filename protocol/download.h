// A download: one file from the PC into a flash bank or an EEPROM. The file is read whole,
// announced (DL_REQ, then FIRMWARE_INFO with its size and CRC-32) and sent in numbered chunks,
// each acknowledged by the unit before the next goes. Every download ends by reading the flash
// information again, so that the bank records show its result. Each step is one pass of its
// state.
#pragma once

#include <cstdint>

#include "protocol/operation_state.h"
#include "protocol/pace.h"

struct unit;

// Chunk numbers travel in 16 bits: a file needing more chunks cannot be numbered.
inline constexpr std::uint32_t max_chunks = 65536;

// How the chunks' answers come. A chunk whose answer is lost in silence is sent again after
// several times the slowest answer so far (see waiting.h); a DL_ACK carries no chunk number, so
// when the first answer was only late, the unit answers the second copy too: after a chunk sent
// again so, its answer is followed by a short wait (several times the slowest answer, at least
// 250 ms) that takes that second answer out of the way before the next chunk goes.
struct chunk_pace {
    std::uint32_t slowest_ms = 0;    // of this download's answers so far; 0 before the first
    bool sent_again_early = false;   // the chunk waited for went again before the full time-out
    int silences = 0;                // time-outs of the chunk waited for
    bool settling = false;           // waiting for a second answer of the chunk just answered
    std::uint32_t settle_until = 0;  // until then
};

// preparing_download: reads the file, works out chunks and CRC-32, sends DL_REQ.
void download_prepare(unit& u, operation_state& state);
// awaiting_dl_ready: the unit may first reboot into its boot loader; progress marks at the pace
// given.
void download_wait_ready(unit& u, operation_state& state, pace& marks);
// awaiting_info_ack: FIRMWARE_INFO_ACK.
void download_wait_info_ack(unit& u, operation_state& state);
// sending_chunk: the next chunk, or the end of the download when every chunk was acknowledged.
void send_next_chunk(unit& u, operation_state& state);
// awaiting_chunk_answer: DL_ACK or DL_FAIL; a time-out sends the chunk again.
void download_wait_chunk(unit& u, operation_state& state);
// Prints the text on a line of its own, ends the download and asks for the flash information.
void end_download(unit& u, operation_state& state, const char* text);

