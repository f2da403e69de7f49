#include "tools/card_sim/card_bridge.h"

#include <chrono>
#include <cstring>

#include "link/frame.h"
#include "tools/card_sim/rx_words.h"

namespace {

// Symbols taken from the card per pass.
constexpr std::size_t symbols_per_pass = 65536;
// The worker's pause when nothing happened: the unit's timers and the program's polls are in
// milliseconds.
constexpr std::chrono::microseconds idle_pause{500};

}  // namespace

card_bridge::card_bridge(card_design& design, const sim_unit_options& unit_options,
                         const raw_file* record)
    : design_(design),
      record_(record),
      unit_(unit_options, sim_clock::now()),
      symbols_(symbols_per_pass) {
    unit_.set_line(true);  // the card's line to the unit is always in place
}

card_bridge::~card_bridge() { stop(); }

void card_bridge::start() {
    if (worker_.joinable()) {
        return;
    }
    stop_.store(false);
    design_.set_drained(true);
    worker_ = std::thread([this] { run(); });
}

void card_bridge::stop() {
    if (!worker_.joinable()) {
        return;
    }
    stop_.store(true);
    worker_.join();
    design_.set_drained(false);
}

void card_bridge::run() {
    while (!stop_.load()) {
        if (!step(sim_clock::now())) {
            std::this_thread::sleep_for(idle_pause);
        }
    }
}

bool card_bridge::step(sim_clock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    bool busy = false;
    const std::size_t n = design_.take_symbols(symbols_.data(), symbols_.size());
    for (std::size_t k = 0; k < n; ++k) {
        switch (decoder_.feed(symbols_[k])) {
        case symbol_event::none:
            break;
        case symbol_event::message:
            to_unit(decoder_.message(), now);
            break;
        case symbol_event::line_error:
            note_line_error(decoder_.error());
            break;
        }
    }
    busy = n > 0;
    unit_.run_timers(now);
    from_unit();
    while (!pending_.empty() &&
           design_.push_words(pending_.front().data(), pending_.front().size())) {
        pending_.pop_front();
        ++counters_.answers_to_card;
        busy = true;
    }
    return busy;
}

void card_bridge::to_unit(const std::vector<std::uint8_t>& message, sim_clock::time_point now) {
    ++counters_.messages_to_unit;
    // The unit takes in what a serial line would bring: the message in its frame.
    for (const std::uint8_t byte : serial_frame(message.data(), message.size())) {
        unit_.receive(byte, now);
    }
}

void card_bridge::from_unit() {
    std::vector<frame_piece> pieces;
    for (const timed_bytes& out : unit_.take_output()) {
        for (const std::uint8_t byte : out.bytes) {
            answers_.feed(byte, pieces);
        }
    }
    for (const frame_piece& piece : pieces) {
        if (piece.kind == received_kind::message) {
            pending_.push_back(pack_receive_words(piece.bytes));
        } else if (piece.kind == received_kind::bad_frame) {
            ++counters_.bad_answer_frames;
        }
        // Bytes outside frames (the unit's terminal text) have no way onto the card.
    }
}

void card_bridge::note_line_error(const char* why) {
    ++counters_.line_errors;
    if (record_ != nullptr) {
        char line[128] = "line error: ";
        std::strncat(line, why, sizeof line - std::strlen(line) - 2);
        std::strcat(line, "\n");
        record_->write(line, std::strlen(line));
    }
}

void card_bridge::inspect(
    const std::function<void(const sim_view&, const bridge_counters&)>& look) {
    const std::lock_guard<std::mutex> lock(mutex_);
    look(unit_.view(), counters_);
}
