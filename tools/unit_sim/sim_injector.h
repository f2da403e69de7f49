// The faults the unit injects on its way out: silence, dropped answers, corrupted answers and
// corrupted bytes, line noise that flips or loses any byte on the line, decided by a seeded
// generator so that a run can be repeated; the one-off wrong block number of a file answer; the
// wrong CRC-32 the unit may report; and which file and log blocks are damaged and which bank
// records lost, counted per block and per bank.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "tools/unit_sim/sim_options.h"

class fault_injector {
public:
    fault_injector(const sim_faults& faults, std::uint64_t seed) : random_(seed) { set(faults); }

    // New faults from now on; wrong_block_once is armed afresh when set, and the damaged
    // blocks and lost bank records count afresh.
    void set(const sim_faults& faults);
    const sim_faults& faults() const noexcept { return faults_; }

    // True once after wrong_block_once was set: this file answer gets a wrong block number.
    bool take_wrong_block() noexcept;

    // True while the answers for this file block number, log block or bank record are still
    // to be damaged or lost; each call stands for one such answer.
    bool take_block_damage(std::uint16_t block);
    bool take_log_damage(std::uint8_t block);
    bool take_bank_record_loss(std::size_t bank);

    // The CRC-32 the unit reports for stored data whose true CRC-32 is `crc`.
    std::uint32_t reported_crc(std::uint32_t crc) const noexcept;

    enum class fate { sent, corrupted, dropped, silenced };
    // The serial frame of an answer as it goes on the line. Corruption flips one of the four
    // checked bits of a message byte, never the length field, so that the receiver still finds
    // the frame whole and rejects it by its checksum: a corrupted answer gets one such flip, a
    // corrupted byte one each. `frame` is empty unless something is sent.
    fate frame_answer(const std::vector<std::uint8_t>& message, std::vector<std::uint8_t>& frame);

    struct noise_hits {
        std::size_t bits_flipped = 0;
        std::size_t bytes_lost = 0;
        bool any() const noexcept { return bits_flipped + bytes_lost > 0; }
    };
    // The line between the unit and the program: any byte, whatever it is part of, may have
    // one of its eight bits flipped or be lost, each by its own probability per byte.
    noise_hits line_noise(std::vector<std::uint8_t>& bytes);

private:
    bool chance(double probability);
    void flip_checked_bit(std::uint8_t* body, std::size_t index);

    sim_faults faults_;
    bool wrong_block_pending_ = false;
    std::map<std::uint16_t, unsigned> blocks_damaged_;  // answers damaged so far, per block
    std::map<std::uint8_t, unsigned> log_blocks_damaged_;
    std::array<unsigned, bank_records> bank_records_lost_{};
    std::mt19937_64 random_;
};
