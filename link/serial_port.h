// A serial port (COMn, or a port the user named), opened at 115200 baud 8N1,
// carrying loader messages as serial frames (or, in remote access, plain terminal bytes). Every
// failing port operation returns a link_failed result naming the port and the system's reason.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "link/comm_error.h"
#include "platform/result.h"
#include "platform/serial_device.h"

// Driver queue sizes and time-outs the port is opened with.
inline constexpr std::uint32_t serial_receive_queue = 32768;
inline constexpr std::uint32_t serial_transmit_queue = 9216;
inline constexpr comm_timeouts serial_port_timeouts{
    15,   // ms between two received bytes
    1,    // ms per byte read
    250,  // ms added to every read
    1,    // ms per byte written
    250,  // ms added to every write
};
inline constexpr std::uint32_t serial_baud_rate = 115200;

// The longest message the serial sender takes; a longer one is refused without a trace.
inline constexpr std::size_t serial_max_message = 2046;
// Frames leave in pieces of this size; after a lost answer, in the small pieces for good.
inline constexpr std::size_t serial_piece = 100;
inline constexpr std::size_t serial_small_piece = 16;
// The receiver waits this long for the first byte when the driver holds none.
inline constexpr std::uint32_t serial_idle_wait_ms = 25;

class CSerialPort {
public:
    explicit CSerialPort(std::unique_ptr<serial_device> device);

    // Opens and configures the port; does nothing when it is open already. `device_name` is
    // what the system opens; the port name (COMn, or the name the user gave) is what messages
    // show.
    result serial_configure(const std::string& name, const std::string& device_name);

    // Sends the serial frame of an n-byte message, in pieces of serial_piece bytes or, once
    // small_pieces, of serial_small_piece. A message longer than serial_max_message is refused
    // and nothing is sent.
    result Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level,
                        bool small_pieces);

    // Writes one byte outside any frame.
    result serial_write_byte(std::uint8_t byte);

    // Discards received bytes, sends "##" (the unit takes up framed messages again) and waits
    // 100 ms.
    result serial_purge();

    // One reader pass over the receive buffer: `frame` becomes the size of a complete, checked
    // frame at its start, or 0. In loader mode frames are looked for (checksum errors counted in
    // crc_errors); in remote access the bytes are the unit's terminal output and are printed.
    // Drains what the driver holds into the buffer behind its fill.
    result serial_read(std::span<std::uint8_t> buffer, std::size_t& fill, bool loader_mode,
                       std::atomic<int>& crc_errors, std::size_t& frame);

    // Closes the port.
    result close();

    bool is_open() const { return is_open_.load(std::memory_order_acquire); }
    // Bytes taken from the driver since the port opened.
    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
    const std::string& port_name() const { return port_name_; }

private:
    result failure(int code, const os_error& error) const;
    result require_open() const;
    result write_all(const std::uint8_t* data, std::size_t size);

    line_settings dcb_{};  // 9600 baud, 8 data bits, no parity, one stop bit until opened
    std::atomic<bool> is_open_{false};
    std::atomic<std::uint64_t> received_{0};
    comm_timeouts timeouts_{};
    std::unique_ptr<serial_device> handle_;
    std::string port_name_ = "COM1";
};
