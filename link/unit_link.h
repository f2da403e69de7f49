// The one way the loader reaches the unit, whichever link carries its messages: the serial port,
// the card, or a test's captured link. Start-up chooses one for the run and hands it to the
// senders, which never ask which one it is.
#pragma once

#include <cstddef>
#include <cstdint>

class unit_link {
public:
    virtual ~unit_link() = default;

    // False while the link cannot carry a loader message (the serial line in remote access,
    // where a frame would reach the unit as typed text): a request then is not sent.
    virtual bool carries_messages() const = 0;

    // Sends one whole message of n bytes, wrapped as the link wraps it, with the link's trace
    // above the trace level's threshold.
    virtual void send_message(const std::uint8_t* message, std::size_t n, int trace_level) = 0;

    // Writes one byte outside any message (mode switches, keys of remote access); nothing on a
    // link without a raw line.
    virtual void send_raw_byte(std::uint8_t byte) = 0;

    // Discards what was received and asks the unit for loader messages again, where the link
    // has such a mode (the serial line in loader mode); nothing elsewhere.
    virtual void purge() = 0;
};
