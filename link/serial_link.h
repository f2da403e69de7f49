// The serial port as one unit's link: loader messages as serial frames while the line is in
// loader mode, raw bytes for mode switches and remote access, and the receiver thread that
// reads the line, finds the frames and hands them to the link's listener (in remote access it
// prints the unit's terminal output instead).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/frame.h"
#include "link/receiving_link.h"
#include "link/serial_port.h"
#include "platform/serial_device.h"

class serial_unit_link final : public receiving_link {
public:
    // `device` replaces the system's port (tests).
    explicit serial_unit_link(std::unique_ptr<serial_device> device = nullptr);
    // Stops a receiver still running and waits for it.
    ~serial_unit_link() override;
    serial_unit_link(const serial_unit_link&) = delete;
    serial_unit_link& operator=(const serial_unit_link&) = delete;

    // Opens and configures the port at 115200 baud 8N1: `port_name` as messages show it (COMn,
    // or the name the user gave), `device_name` as the system opens it. The line starts in
    // loader mode.
    result open(const std::string& port_name, const std::string& device_name);
    // The port opened again on a new line after the old one failed (a cable pulled and put
    // back): the old handle closed, whatever bytes the old line left forgotten. The receiver
    // must have ended (stop) and is started again afterwards.
    result reopen(const std::string& port_name, const std::string& device_name);

    bool carries_messages() const override { return mode() == line_mode::loader; }
    result send_message(const std::uint8_t* message, std::size_t n, int trace_level) override;
    result send_raw_byte(std::uint8_t byte) override;
    result purge() override;
    bool is_serial() const override { return true; }
    line_mode mode() const override { return mode_.load(std::memory_order_acquire); }
    void set_mode(line_mode mode) override { mode_.store(mode, std::memory_order_release); }
    void use_small_pieces() override { small_pieces_.store(true, std::memory_order_relaxed); }
    result start(link_listener& listener) override;

    // One pass of the receiver: reads what has arrived and hands a complete frame on, or drops a
    // frame that has stalled. A failure means that the port is gone. Receiver thread only (or a
    // test that runs no thread).
    result receive_pass(link_listener& listener);

    // Checksum errors of the line so far.
    int crc_errors() const { return crc_errors_.load(std::memory_order_relaxed); }
    // Bytes taken from the port so far.
    std::uint64_t received() const { return port_.received(); }
    const std::string& port_name() const { return port_.port_name(); }
    bool small_pieces() const { return small_pieces_.load(std::memory_order_relaxed); }

private:
    int run_receiver(link_listener& listener);

    CSerialPort port_;
    // The receive buffer and the incomplete frame at its start; receiver thread only.
    std::unique_ptr<std::array<std::uint8_t, rx_buffer_size>> rx_;
    std::size_t fill_ = 0;
    frame_stall_watch stall_;
    std::atomic<int> crc_errors_{0};
    std::atomic<line_mode> mode_{line_mode::loader};
    std::atomic<bool> small_pieces_{false};
};
