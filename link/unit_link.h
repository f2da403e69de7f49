// One unit's link, whichever carries its messages: the serial port, the card, or a test's
// captured link. Each link owns what it takes to reach its unit (the port or the card's window,
// the receive buffer, the receiver thread and how it is stopped, the line's mode) and hands what
// the unit sends to a listener that the link's owner gives it. The loader never asks which kind
// of link it has.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"

// What a link's receiver thread hands on. Implemented by the link's owner (a session's inbox);
// every call comes on the receiver thread.
class link_listener {
public:
    virtual ~link_listener() = default;

    // A complete message that passed the link's own check: its bytes from DA on, its length
    // field, SA, CMD and SUB.
    virtual void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                            std::uint8_t cmd, std::uint8_t sub) = 0;

    // The link has failed (a port unplugged, one that cannot be closed); its receiver takes in
    // nothing more.
    virtual void on_failure(const result& failure) = 0;

    // A frame arrived broken (a wrong checksum, a length that cannot be, a frame cut short) and
    // was dropped: whatever it answered will not come, and a request waiting for it may be
    // asked again at once.
    virtual void on_damaged_frame() {}

    // The trace level the receiver prints its own traces by.
    virtual int trace_level() const = 0;
};

// How a serial line carries its bytes; the card has no such modes.
enum class line_mode {
    none,           // the card: every message framed, no raw line
    loader,         // framed loader messages
    remote_access,  // plain terminal bytes: keys to the unit, its output to the screen
};

class unit_link {
public:
    virtual ~unit_link() = default;

    // False while the link cannot carry a loader message (the serial line in remote access,
    // where a frame would reach the unit as typed text): a request then is not sent.
    virtual bool carries_messages() const = 0;

    // Sends one whole message of n bytes, wrapped as the link wraps it, with the link's trace
    // above the trace level's threshold. A failure of kind link_failed means the link is gone.
    virtual result send_message(const std::uint8_t* message, std::size_t n, int trace_level) = 0;

    // Writes one byte outside any message (mode switches, keys of remote access); nothing on a
    // link without a raw line.
    virtual result send_raw_byte(std::uint8_t byte) = 0;

    // Discards what was received and asks the unit for loader messages again, where the link
    // has such a mode (the serial line in loader mode); nothing elsewhere.
    virtual result purge() = 0;

    // True for a serial port (remote access is offered), false for the card.
    virtual bool is_serial() const = 0;
    virtual line_mode mode() const = 0;
    virtual void set_mode(line_mode mode) = 0;

    // After a lost answer: later frames leave in small pieces (the serial line), for good.
    virtual void use_small_pieces() {}

    // When the unit was last heard from (any byte of the serial line, any message of the card),
    // in ticks; mark_heard sets it, so that a silence is counted from the connection's start.
    virtual std::uint32_t last_heard() const = 0;
    virtual void mark_heard(std::uint32_t tick) = 0;

    // Starts the receiver thread, which hands everything to the listener until stop(). False,
    // with the system's account, when the thread cannot be started.
    virtual result start(link_listener& listener) = 0;

    // Tells the receiver to stop (the serial receiver then closes the port) and waits up to the
    // given time for it; true when it has ended.
    virtual bool stop(std::uint32_t wait_ms) = 0;
};
