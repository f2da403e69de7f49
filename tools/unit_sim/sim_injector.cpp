#include "tools/unit_sim/sim_injector.h"

#include "link/crc.h"
#include "link/frame.h"
#include "protocol/messages.h"

namespace {

constexpr unsigned checked_bits = 4;  // crc8_serial covers the low four bits of each byte

}  // namespace

void fault_injector::set(const sim_faults& faults) {
    faults_ = faults;
    wrong_block_pending_ = faults.wrong_block_once;
}

bool fault_injector::take_wrong_block() noexcept {
    const bool wrong = wrong_block_pending_;
    wrong_block_pending_ = false;
    return wrong;
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
    if (faults_.corrupt_probability <= 0.0) {
        return fate::sent;
    }
    std::uint8_t* body = frame.data() + frame_message_offset;
    bool corrupted = false;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (i == head_length || i == head_length + 1 || !chance(faults_.corrupt_probability)) {
            continue;
        }
        body[i] = static_cast<std::uint8_t>(body[i] ^ (1U << (random_() % checked_bits)));
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
