// A serial port as the operating system offers it. The link layer drives every port operation
// through this interface, in the order a Windows serial port needs them (open, read the line
// settings, write them back changed, size the driver queues, set the time-outs, ...), so that
// the POSIX and Win32 backends can mirror each other call for call, and a test can put a
// recording fake in the port's place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os_error.h"

// The part of the line settings the program chooses; every other setting stays as the port
// had it.
struct line_settings {
    std::uint32_t baud_rate = 9600;
    std::uint8_t byte_size = 8;
    std::uint8_t parity = 0;     // 0: none
    std::uint8_t stop_bits = 0;  // 0: one stop bit
};

// Read and write time-outs in the form Windows takes them, in milliseconds.
struct comm_timeouts {
    std::uint32_t read_interval = 0;
    std::uint32_t read_total_multiplier = 0;
    std::uint32_t read_total_constant = 0;
    std::uint32_t write_total_multiplier = 0;
    std::uint32_t write_total_constant = 0;
};

class serial_device {
public:
    virtual ~serial_device() = default;

    // Opens the named device for reading and writing, for this process alone.
    virtual bool open(const std::string& device_name, os_error& error) = 0;
    // Reads the port's current settings and keeps them for set_line.
    virtual bool get_line(os_error& error) = 0;
    // Writes the kept settings back with speed, data bits, parity and stop bits replaced, in
    // raw mode (no echo, no translation of bytes).
    virtual bool set_line(const line_settings& settings, os_error& error) = 0;
    // Sizes the driver's receive and transmit queues.
    virtual bool setup_queues(std::uint32_t receive, std::uint32_t transmit, os_error& error) = 0;
    virtual bool set_timeouts(const comm_timeouts& timeouts, os_error& error) = 0;
    // Clears a pending line error and tells how many received bytes wait in the driver. Fails
    // when the device has gone (an unplugged adapter, a closed pseudo-terminal).
    virtual bool clear_errors(std::uint32_t& queued, os_error& error) = 0;
    // Waits until a byte has arrived or the time is up, whichever comes first.
    virtual bool wait_input(std::uint32_t milliseconds, os_error& error) = 0;
    // Reads up to `size` bytes that have already arrived.
    virtual bool read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got,
                      os_error& error) = 0;
    // Writes the bytes, waiting at most as long as the write time-outs allow.
    virtual bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
                       os_error& error) = 0;
    // Discards everything received and not yet read.
    virtual bool purge_input(os_error& error) = 0;
    virtual bool close(os_error& error) = 0;
};

// The operating system's serial port.
std::unique_ptr<serial_device> make_serial_device();

// The device that stands for port COMn: \\.\COMn on Windows; on Linux the file COMn of the
// current directory when there is one (a link to /dev/ttyUSB0 or a pseudo-terminal), else
// /dev/ttyS<n-1>.
std::string serial_device_name(std::uint32_t port_number);

// The device to open for a port the user named: on Windows \\.\COMn for a name COMn (in any
// case), so that COM10 and above open too, and any other name as written (\\.\CNCA0); on Linux
// the name itself (/dev/ttyUSB0, a /dev/serial/by-id link, or a file of the current directory).
std::string serial_device_path(const std::string& port_name);
