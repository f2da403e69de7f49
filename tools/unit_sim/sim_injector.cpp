#include "tools/unit_sim/sim_injector.h"

#include <algorithm>

#include "link/crc.h"
#include "link/frame.h"
#include "protocol/messages.h"

namespace {

constexpr unsigned checked_bits = 4;  // crc8_serial covers the low four bits of each byte
// Any CRC-32 other than the true one; flips high and low bits alike.
constexpr std::uint32_t wrong_crc_pattern = 0x5A5AA5A5U;

// The length field stays whole, so that the receiver still finds the frame.
bool may_corrupt(std::size_t index) {
    return index != head_length && index != head_length + 1;
}

// True for the first `times` calls with a number of the list; `done` counts them per number.
template <typename Number>
bool take_listed(const std::vector<Number>& listed, unsigned times, Number number,
                 std::map<Number, unsigned>& done) {
    if (std::find(listed.begin(), listed.end(), number) == listed.end()) {
        return false;
    }
    unsigned& count = done[number];
    if (count >= times) {
        return false;
    }
    ++count;
    return true;
}

}  // namespace

void fault_injector::set(const sim_faults& faults) {
    faults_ = faults;
    wrong_block_pending_ = faults.wrong_block_once;
    blocks_damaged_.clear();
    log_blocks_damaged_.clear();
    bank_records_lost_.fill(0);
}

bool fault_injector::take_block_damage(std::uint16_t block) {
    return take_listed(faults_.damaged_blocks, faults_.damage_times, block, blocks_damaged_);
}

bool fault_injector::take_log_damage(std::uint8_t block) {
    return take_listed(faults_.damaged_log_blocks, faults_.log_damage_times, block,
                       log_blocks_damaged_);
}

bool fault_injector::take_bank_record_loss(std::size_t bank) {
    if (bank >= bank_records || bank_records_lost_[bank] >= faults_.lost_bank_records[bank]) {
        return false;
    }
    ++bank_records_lost_[bank];
    return true;
}

bool fault_injector::take_wrong_block() noexcept {
    const bool wrong = wrong_block_pending_;
    wrong_block_pending_ = false;
    return wrong;
}

std::uint32_t fault_injector::reported_crc(std::uint32_t crc) const noexcept {
    return faults_.wrong_crc ? crc ^ wrong_crc_pattern : crc;
}

void fault_injector::flip_checked_bit(std::uint8_t* body, std::size_t index) {
    body[index] = static_cast<std::uint8_t>(body[index] ^ (1U << (random_() % checked_bits)));
}

bool fault_injector::chance(double probability) {
    if (probability <= 0.0) {
        return false;
    }
    if (probability >= 1.0) {
        return true;
    }
    return std::generate_canonical<double, 53>(random_) < probability;
}

fault_injector::noise_hits fault_injector::line_noise(std::vector<std::uint8_t>& bytes) {
    noise_hits hits;
    if (faults_.noise_probability <= 0.0 && faults_.drop_byte_probability <= 0.0) {
        return hits;
    }
    std::size_t kept = 0;
    for (const std::uint8_t byte : bytes) {
        if (chance(faults_.drop_byte_probability)) {
            ++hits.bytes_lost;
            continue;
        }
        std::uint8_t sent = byte;
        if (chance(faults_.noise_probability)) {
            sent = static_cast<std::uint8_t>(sent ^ (1U << (random_() % 8)));
            ++hits.bits_flipped;
        }
        bytes[kept++] = sent;
    }
    bytes.resize(kept);
    return hits;
}

fault_injector::fate fault_injector::frame_answer(const std::vector<std::uint8_t>& message,
                                                  std::vector<std::uint8_t>& frame) {
    frame.clear();
    if (faults_.silent) {
        return fate::silenced;
    }
    if (chance(faults_.drop_probability)) {
        return fate::dropped;
    }
    frame = serial_frame(message.data(), message.size());
    std::uint8_t* body = frame.data() + frame_message_offset;
    if (chance(faults_.corrupt_answer_probability) && message.size() > head_length + 2) {
        // One flip of a checked bit always changes the checksum.
        std::size_t index = random_() % (message.size() - 2);
        if (index >= head_length) {
            index += 2;
        }
        flip_checked_bit(body, index);
        return fate::corrupted;
    }
    if (faults_.corrupt_probability <= 0.0) {
        return fate::sent;
    }
    bool corrupted = false;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (!may_corrupt(i) || !chance(faults_.corrupt_probability)) {
            continue;
        }
        flip_checked_bit(body, i);
        corrupted = true;
    }
    if (!corrupted) {
        return fate::sent;
    }
    // Several flips may cancel out in the checksum; one more single flip never does.
    if (crc8_serial(body, message.size()) == frame[frame_message_offset + message.size()]) {
        body[head_cmd] = static_cast<std::uint8_t>(body[head_cmd] ^ 1U);
    }
    return fate::corrupted;
}
