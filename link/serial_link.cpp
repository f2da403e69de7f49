#include "link/serial_link.h"

#include <span>
#include <utility>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "platform/output.h"

serial_unit_link::serial_unit_link(std::unique_ptr<serial_device> device)
    : port_(device ? std::move(device) : make_serial_device()),
      rx_(std::make_unique<std::array<std::uint8_t, rx_buffer_size>>()) {}

serial_unit_link::~serial_unit_link() { end_receiver(); }

result serial_unit_link::open(const std::string& port_name, const std::string& device_name) {
    set_mode(line_mode::loader);
    return port_.serial_configure(port_name, device_name);
}

result serial_unit_link::reopen(const std::string& port_name, const std::string& device_name) {
    if (port_.is_open()) {
        (void)port_.close();  // the old line is gone: its handle may not close cleanly
    }
    fill_ = 0;
    stall_ = frame_stall_watch{};
    return open(port_name, device_name);
}

result serial_unit_link::send_message(const std::uint8_t* message, std::size_t n,
                                      int trace_level) {
    return port_.Send_Message(message, n, trace_level, small_pieces());
}

result serial_unit_link::send_raw_byte(std::uint8_t byte) { return port_.serial_write_byte(byte); }

result serial_unit_link::purge() {
    if (mode() != line_mode::loader) {
        return result::success();
    }
    return port_.serial_purge();
}

result serial_unit_link::receive_pass(link_listener& listener) {
    const std::span<std::uint8_t> buffer(*rx_);
    const std::uint64_t before = port_.received();
    const bool framed = mode() == line_mode::loader;
    std::size_t frame = 0;
    const int errors_before = crc_errors_.load(std::memory_order_relaxed);
    if (result read = port_.serial_read(buffer, fill_, framed, crc_errors_, frame); !read) {
        return read;
    }
    if (port_.received() != before) {
        mark_heard(tick_count_ms());
    }
    if (crc_errors_.load(std::memory_order_relaxed) != errors_before) {
        listener.on_damaged_frame();
    }
    if (frame == 0) {
        if (framed && stall_.check(buffer, fill_, tick_count_ms())) {
            listener.on_damaged_frame();
        }
        return result::success();
    }
    // The frame is handed on exactly as its checksum was verified, and only then removed.
    const std::uint8_t* message = buffer.data() + frame_message_offset;
    const std::uint16_t length = get_be16(buffer.data() + frame_length_offset);
    const std::uint8_t sa = message[1];
    const std::uint8_t cmd = message[4];
    const std::uint8_t sub = message[5];
    listener.on_message(message, length, sa, cmd, sub);
    if (listener.trace_level() > 3) {
        out_printf("\nSA %02x CMD %02x SubCmd %02x Lenght %d\n", unsigned{sa}, unsigned{cmd},
                   unsigned{sub}, int{length});
    }
    consume_frame(buffer, fill_, frame);
    return result::success();
}

int serial_unit_link::run_receiver(link_listener& listener) {
    while (!stopping()) {
        if (result pass = receive_pass(listener); !pass) {
            listener.on_failure(pass);
            return 1;
        }
    }
    // The port is closed on the receiver's way out: the main loop's last message has gone.
    if (result closed = port_.close(); !closed) {
        listener.on_failure(closed);
        return 1;
    }
    return 0;
}

result serial_unit_link::start(link_listener& listener) {
    return start_receiver([this, &listener] { return run_receiver(listener); });
}
