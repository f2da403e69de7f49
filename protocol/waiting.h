// Waiting for an answer: the one step every waiting state takes on each pass, with the retry
// budgets that limit how often a request is repeated, and the keep-alive that holds the serial
// link open while the loader waits.
#pragma once

#include <cstdint>

#include "protocol/operation_state.h"

// How many more time-outs each wait may take. Budgets live for the whole run; only the
// connection's (restored by the reconnect key) and the download's waits for FIRMWARE_INFO_ACK
// and the chunks' answers (restored with every download) are ever given back.
struct retry_budgets {
    int boot_report = 3;     // connecting
    int bank_records = 5;    // FLASH_INFO of bank 3, given back with every reading of the table
    int banks_missing = 5;   // banks whose record did not come though bank 3's did; the same
    int dl_ready = 2;        // DL_READY
    int info_ack = 2;        // FIRMWARE_INFO_ACK, given back with every download
    int chunk_answer = 50;   // DL_ACK or DL_FAIL, given back with every FIRMWARE_INFO
    int boot = 0;            // the boot report after a reboot
    int log = 10;            // MESSAGE_LOG_ACK, given back with every fetch of the log
    int file_block = 50;     // FILE_ACK
};
inline constexpr int boot_report_start_budget = 3;
inline constexpr int bank_records_start_budget = 5;
inline constexpr int log_start_budget = 10;
inline constexpr int banks_missing_start_budget = 5;
inline constexpr int info_ack_start_budget = 2;
inline constexpr int chunk_answer_start_budget = 50;

// The silence already warned about: the time the unit was last heard from when the warning was
// given. A new warning needs something heard since.
struct silence_watch {
    bool warned = false;
    std::uint32_t warned_for = 0;
};

struct unit;

// Time-outs of the waits, in milliseconds.
inline constexpr std::uint32_t connect_timeout_ms = 10000;   // boot report, bank records
inline constexpr std::uint32_t dl_ready_timeout_ms = 40000;  // the unit reboots first
inline constexpr std::uint32_t answer_timeout_ms = 10000;    // every answer of a transfer
inline constexpr std::uint32_t boot_timeout_ms = 250000;     // the boot report after a reboot

// A transfer's answer that arrived broken is asked for again at once: the unit has finished
// with the request, and waiting out the time-out would only cost time. One lost in silence is
// asked for again after several times the slowest answer of the transfer so far (at least a
// second): the unit answers each request within a few line times. A read changes nothing on the
// unit, and a late answer of a block already taken is dropped by its number; a chunk's late
// answer has no number and is taken out of the way by the download (see download.h).
inline constexpr std::uint32_t silence_floor_ms = 1000;
inline constexpr std::uint32_t silence_factor = 4;

// The time-out of a transfer's answer, a chunk's (DL_ACK, DL_FAIL) or a read's (FILE_ACK,
// MESSAGE_LOG_ACK): `slowest_ms` the slowest answer of this transfer so far (0 before the first,
// which is given the whole time-out: the unit may be rebooting, erasing or slow to start); none
// once a broken frame came instead.
std::uint32_t transfer_timeout_ms(const unit& u, std::uint32_t slowest_ms);
// The time the answer just taken in took, raising `slowest_ms` to it.
void note_answer_time(const unit& u, std::uint32_t& slowest_ms);

// What a wait for an answer comes to on one pass.
enum class wait_result {
    answered,   // the answer is in
    waiting,    // no answer yet, and no time-out
    ask_again,  // a time-out with a try left: the caller repeats its request
    gave_up,    // a time-out with no try left: the caller ends the operation with its text
};

// Whether the try that uses up the budget still asks again (the download's waits, which give
// up only at the time-out after it) or gives up at once.
enum class last_try { gives_up, asks_again };

// One pass of a wait. Unless answered, the time since the last request (last_request_tick) is
// held against the time-out (one of 0 is over at once); at a time-out a try is taken from the budget (and retry_count
// raised). A time-out that finds the budget used up already ends the operation here: the state
// goes idle, the menu is redrawn after 3 s and "Timeout. Operation aborted\n" is printed; the
// result is gave_up then too.
wait_result await_answer(unit& u, bool answered, operation_state& state, int& budget,
                         std::uint32_t timeout_ms, last_try last = last_try::gives_up);

// Serial loader mode only: when more than 10 s have passed since the last serial send, sends
// KEEP_ALIVE. When a request is still unanswered and nothing at all has come from the unit for
// 20 s by then, warns once for that silence with "Keep alive timeout. Start operation again\n".
void keep_alive_step(unit& u);
