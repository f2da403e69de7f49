// Waiting for the unit: the time-out and retry step of every waiting state, the retry budgets
// that limit how often a request is repeated, and the keep-alive that holds the serial link
// open while the loader waits.
#pragma once

#include <atomic>
#include <cstdint>

// How many more time-outs each waiting state may take. Budgets live for the whole run; only
// the connection's (restored by the reconnect key) and the download's waits for FIRMWARE_INFO_ACK
// and the chunks' answers (restored with every download) are ever given back.
struct retry_budgets {
    int stateM2 = 3;   // boot report while connecting
    int stateM1 = 3;   // FLASH_INFO of bank 3
    int state3 = 2;    // DL_READY
    int state4 = 2;    // FIRMWARE_INFO_ACK, given back with every download
    int state6 = 50;   // DL_ACK or DL_FAIL
    int state11 = 0;   // boot report after a reboot
    int log = 1;       // MESSAGE_LOG_ACK
    int state13 = 50;  // FILE_ACK
};
extern retry_budgets budgets;
inline constexpr int stateM2_start_budget = 3;
inline constexpr int state4_start_budget = 2;
inline constexpr int state6_start_budget = 50;
void reset_retry_budgets();

// Time-outs of the waiting states, in milliseconds.
inline constexpr std::uint32_t connect_timeout_ms = 10000;   // stateM2, stateM1
inline constexpr std::uint32_t dl_ready_timeout_ms = 40000;  // state3
inline constexpr std::uint32_t answer_timeout_ms = 10000;    // state4, state6, logs, state13
inline constexpr std::uint32_t boot_timeout_ms = 250000;     // state11

// Called once per pass by a waiting state that has not seen its answer. 0: keep waiting.
// -1: the time since the last request exceeded the time-out; with budget left the budget was
// taken from (and retry_count raised) and the caller repeats its request; with none left the
// caller gives up. A budget already at 0 ends the operation here: op state 0, a redraw in 3 s
// and "Timeout. Operation aborted\n".
int await_reply(int& op_state, int& budget, std::uint32_t timeout_ms);

// Serial loader mode only: when more than 10 s have passed since the last serial send, sends
// KEEP_ALIVE. When a request is still unanswered and nothing at all has come from the unit for
// 20 s by then, warns once for that silence with "Keep alive timeout. Start operation again\n".
void keep_alive_step();
