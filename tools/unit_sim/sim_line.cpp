#include "tools/unit_sim/sim_line.h"

#include <algorithm>

void receive_queue::arrive(std::span<const std::uint8_t> bytes, sim_clock::time_point now) {
    for (const std::uint8_t byte : bytes) {
        if (paced_) {
            line_free_ = std::max(line_free_, now) + line_byte_time;
            bytes_.emplace_back(byte, line_free_);
        } else {
            bytes_.emplace_back(byte, now);
        }
    }
}

std::pair<std::uint8_t, sim_clock::time_point> receive_queue::pop() {
    const auto front = bytes_.front();
    bytes_.pop_front();
    return front;
}

void transmit_queue::push(std::span<const std::uint8_t> bytes, sim_clock::time_point at) {
    for (const std::uint8_t byte : bytes) {
        if (paced_) {
            line_free_ = std::max(line_free_, at) + line_byte_time;
            bytes_.emplace_back(byte, line_free_);
        } else {
            bytes_.emplace_back(byte, at);
        }
    }
}

std::size_t transmit_queue::ready(sim_clock::time_point now) const {
    // Ready times never decrease along the queue.
    const auto first_later = std::find_if(bytes_.begin(), bytes_.end(),
                                          [now](const auto& entry) { return entry.second > now; });
    return static_cast<std::size_t>(first_later - bytes_.begin());
}

void transmit_queue::written(std::size_t count) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(count));
}

std::optional<sim_clock::time_point> transmit_queue::next_wake() const {
    if (bytes_.empty()) {
        return std::nullopt;
    }
    return bytes_[std::min(piece, bytes_.size()) - 1].second;
}
