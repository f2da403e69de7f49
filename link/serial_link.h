// The serial port as the loader's link: loader messages as serial frames while the line is in
// loader mode, raw bytes for mode switches and remote access.
#pragma once

#include "link/unit_link.h"

class serial_unit_link final : public unit_link {
public:
    bool carries_messages() const override;
    void send_message(const std::uint8_t* message, std::size_t n, int trace_level) override;
    void send_raw_byte(std::uint8_t byte) override;
    void purge() override;
};
