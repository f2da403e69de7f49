// The serial link: the one port (COMn, or a port the user named), opened at 115200 baud 8N1,
// carrying loader messages as serial frames (or, in remote access, plain terminal bytes). Every
// failing port operation raises ECommError.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "link/comm_error.h"
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
// Frames leave in pieces of this size; small_chunks switches to the small pieces for good.
inline constexpr std::size_t serial_piece = 100;
inline constexpr std::size_t serial_small_piece = 16;
// The receiver waits this long for the first byte when the driver holds none.
inline constexpr std::uint32_t serial_idle_wait_ms = 25;

// Set by a download's retry: from then on frames go out in 16-byte pieces.
extern std::atomic<int> small_chunks;

class CSerialPort {
public:
    explicit CSerialPort(std::unique_ptr<serial_device> device);

    // Opens and configures the port; does nothing when it is open already. `device_name` is
    // what the system opens; the port name (COMn, or the name the user gave) is what messages
    // show.
    void serial_configure(const std::string& name, const std::string& device_name);

    // Sends the serial frame of an n-byte message: 0 when sent, -1 when the message is longer
    // than serial_max_message (nothing is sent then).
    int Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level);

    // Writes one byte outside any frame.
    int serial_write_byte(std::uint8_t byte);

    // In loader mode: discards received bytes, sends "##" (the unit takes up framed messages
    // again) and waits 100 ms. Does nothing in remote access.
    void serial_purge();

    // One reader pass over the receive buffer: returns the size of a complete, checked frame at
    // its start, or 0. Drains what the driver holds into the buffer behind its fill.
    std::size_t serial_read(std::span<std::uint8_t> buffer, std::size_t& fill);

    // Closes the port (an error closing raises ECommError).
    void close();

    bool is_open() const { return is_open_.load(std::memory_order_acquire); }
    // Bytes taken from the driver since the port opened.
    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
    const std::string& port_name() const { return port_name_; }

private:
    [[noreturn]] void raise(int code, const os_error& error) const;
    void require_open() const;
    void write_all(const std::uint8_t* data, std::size_t size);

    line_settings dcb_{};  // 9600 baud, 8 data bits, no parity, one stop bit until opened
    std::atomic<bool> is_open_{false};
    std::atomic<std::uint64_t> received_{0};
    comm_timeouts timeouts_{};
    std::unique_ptr<serial_device> handle_;
    std::string port_name_ = "COM1";
};

// The program's one port, made by serial_open and freed by serial_close.
extern std::atomic<CSerialPort*> serial_port;

// Opens COMn: 0 when open, -1 when n is not positive as a signed 32-bit number (nothing is
// made then). A port that cannot be opened raises ECommError. `device` replaces the system's
// port (tests).
int serial_open(std::uint32_t n, std::unique_ptr<serial_device> device = nullptr);

// Opens the port the user named (COM12, /dev/ttyUSB0): 0 when open, -1 for an empty name
// (nothing is made then). Messages about the port show the name as given. A port that cannot
// be opened raises ECommError.
int serial_open_named(const std::string& name, std::unique_ptr<serial_device> device = nullptr);

// The operations of the program's port, as the state machine, the console and the receiver
// use them. Without an open port they raise ECommError code 7.
int Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level);
int serial_write_byte(std::uint8_t byte);
void serial_purge();
std::size_t serial_read(std::span<std::uint8_t> buffer, std::size_t& fill);
int serial_close();
// Bytes the program's port has taken in so far (0 without a port).
std::uint64_t received_bytes();
