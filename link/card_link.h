// The ADM-XRC card as one unit's link: every message goes out as line symbols into the card's
// configured window, and the receiver thread polls the window's receive register. The card has
// no raw line, no line modes and nothing to purge.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/frame.h"
#include "link/receiving_link.h"

class card_unit_link final : public receiving_link {
public:
    // The window of the configured card and its receive register (card_rx_data_v2 or _v6).
    card_unit_link(volatile std::uint32_t* window, std::size_t rx_data);
    ~card_unit_link() override;
    card_unit_link(const card_unit_link&) = delete;
    card_unit_link& operator=(const card_unit_link&) = delete;

    bool carries_messages() const override { return true; }
    result send_message(const std::uint8_t* message, std::size_t n, int trace_level) override;
    result send_raw_byte(std::uint8_t) override { return result::success(); }
    result purge() override { return result::success(); }
    bool is_serial() const override { return false; }
    line_mode mode() const override { return line_mode::none; }
    void set_mode(line_mode) override {}
    result start(link_listener& listener) override;

private:
    volatile std::uint32_t* window_;
    std::size_t rx_data_;
    std::unique_ptr<std::array<std::uint8_t, rx_buffer_size>> rx_;  // receiver thread only
};
