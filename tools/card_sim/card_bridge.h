// The unit behind the card: carries the messages decoded from the card's transmit queue to
// the simulated unit (as the serial frames it takes in) and the unit's answers back into the
// card's receive queue as receive words. Runs the unit's timers on the real clock. One worker
// thread does this while the card is open; tests may drive it step by step instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/card_sim/card_design.h"
#include "tools/card_sim/card_symbols.h"
#include "tools/unit_sim/sim_core.h"
#include "tools/unit_sim/sim_reader.h"

struct bridge_counters {
    unsigned messages_to_unit = 0;
    unsigned line_errors = 0;       // broken symbol sequences dropped on the way to the unit
    unsigned answers_to_card = 0;
    unsigned bad_answer_frames = 0; // answers whose serial checksum failed, dropped by the card
};

class card_bridge {
public:
    // record: where line errors are noted as lines, or nullptr.
    card_bridge(card_design& design, const sim_unit_options& unit_options,
                const raw_file* record);
    ~card_bridge();
    card_bridge(const card_bridge&) = delete;
    card_bridge& operator=(const card_bridge&) = delete;

    void start();  // the worker thread; does nothing if it runs
    void stop();   // stops and joins it
    bool running() const noexcept { return worker_.joinable(); }

    // One pass: drains the symbols, feeds the unit, runs its timers, queues its answers.
    // Returns whether anything happened.
    bool step(sim_clock::time_point now);

    // Looks at the unit and the counters under the bridge's lock.
    void inspect(const std::function<void(const sim_view&, const bridge_counters&)>& look);

private:
    void run();
    void to_unit(const std::vector<std::uint8_t>& message, sim_clock::time_point now);
    void from_unit();
    void note_line_error(const char* why);

    card_design& design_;
    const raw_file* record_;
    std::mutex mutex_;  // the unit, the decoder and the pending answers
    unit_core unit_;
    card_symbol_decoder decoder_;
    frame_reader answers_;
    std::deque<std::vector<std::uint32_t>> pending_;  // answers waiting for room in the card
    bridge_counters counters_;
    std::vector<std::uint8_t> symbols_;

    std::atomic<bool> stop_{false};
    std::thread worker_;
};
