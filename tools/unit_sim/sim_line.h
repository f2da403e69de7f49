// Timing of the serial line between the program and the unit. A pseudo-terminal moves bytes at
// once; at 115200 baud, 8N1, every byte takes ten bit times, so with pacing on each byte is
// given the moment it would have arrived, or may leave, on a real line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <utility>

using sim_clock = std::chrono::steady_clock;

// Ten bits (start, eight data, stop) at 115200 baud: 86.8 microseconds.
inline constexpr std::chrono::nanoseconds line_byte_time{86806};

// Bytes read from the port, each due when its last bit would have arrived.
class receive_queue {
public:
    explicit receive_queue(bool paced) : paced_(paced) {}

    // Bytes read at `now`: the line carries them one after another from `now` on, or from the
    // end of the bytes before them if those are still on their way.
    void arrive(std::span<const std::uint8_t> bytes, sim_clock::time_point now);

    bool empty() const noexcept { return bytes_.empty(); }
    std::size_t size() const noexcept { return bytes_.size(); }
    sim_clock::time_point due(std::size_t index) const { return bytes_[index].second; }
    std::pair<std::uint8_t, sim_clock::time_point> pop();

private:
    bool paced_;
    sim_clock::time_point line_free_{};
    std::deque<std::pair<std::uint8_t, sim_clock::time_point>> bytes_;
};

// Bytes waiting to be written to the port, each ready when its last bit would have left.
class transmit_queue {
public:
    // Bytes are written in pieces of this many line bytes (1.4 ms at line rate).
    static constexpr std::size_t piece = 16;

    explicit transmit_queue(bool paced) : paced_(paced) {}

    // Bytes handed to the line at `at`; they follow whatever is still being sent.
    void push(std::span<const std::uint8_t> bytes, sim_clock::time_point at);

    bool empty() const noexcept { return bytes_.empty(); }
    // How many bytes at the front may be written by `now`.
    std::size_t ready(sim_clock::time_point now) const;
    // The byte at index i of the front.
    std::uint8_t at(std::size_t index) const { return bytes_[index].first; }
    // Removes `count` written bytes from the front.
    void written(std::size_t count);
    // When the next piece is complete, if anything waits.
    std::optional<sim_clock::time_point> next_wake() const;

private:
    bool paced_;
    sim_clock::time_point line_free_{};
    std::deque<std::pair<std::uint8_t, sim_clock::time_point>> bytes_;
};
