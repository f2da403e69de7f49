// The ADM-XRC card as the loader's link: every message goes out as line symbols into the window
// start-up installed. The card has no raw line and nothing to purge.
#pragma once

#include "link/unit_link.h"

class card_unit_link final : public unit_link {
public:
    bool carries_messages() const override { return true; }
    void send_message(const std::uint8_t* message, std::size_t n, int trace_level) override;
    void send_raw_byte(std::uint8_t) override {}
    void purge() override {}
};
