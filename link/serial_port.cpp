#include "link/serial_port.h"

#include <algorithm>
#include <vector>

#include "link/frame.h"
#include "link/link_mode.h"
#include "platform/clock.h"
#include "platform/output.h"

std::atomic<int> small_chunks{0};
std::atomic<CSerialPort*> serial_port{nullptr};

namespace {

constexpr std::uint8_t interrupt_mode_byte = 0x23;  // '#': the unit takes up framed messages
constexpr std::uint32_t purge_pause_ms = 100;

CSerialPort& port_or_raise() {
    CSerialPort* port = serial_port.load(std::memory_order_acquire);
    if (port == nullptr) {
        throw ECommError{comm_not_open, 0, "", ""};
    }
    return *port;
}

}  // namespace

CSerialPort::CSerialPort(std::unique_ptr<serial_device> device) : handle_(std::move(device)) {}

void CSerialPort::raise(int code, const os_error& error) const {
    throw ECommError{code, error.code, error.text, port_name_};
}

void CSerialPort::require_open() const {
    if (!is_open()) {
        throw ECommError{comm_not_open, 0, "", port_name_};
    }
}

void CSerialPort::serial_configure(const std::string& name, const std::string& device_name) {
    if (is_open()) {
        return;
    }
    const line_settings kept = dcb_;
    port_name_ = name;
    os_error error;
    if (!handle_->open(device_name, error)) {
        raise(comm_create_failed, error);
    }
    // On a failure the handle is closed first; the error is the one of the failed step.
    const auto fail = [this](int code, const os_error& cause) {
        os_error ignored;
        handle_->close(ignored);
        raise(code, cause);
    };
    if (!handle_->get_line(error)) {
        fail(comm_get_state_failed, error);
    }
    dcb_.byte_size = kept.byte_size;
    dcb_.parity = kept.parity;
    dcb_.stop_bits = kept.stop_bits;
    dcb_.baud_rate = serial_baud_rate;
    if (!handle_->set_line(dcb_, error)) {
        fail(comm_set_state_failed, error);
    }
    if (!handle_->setup_queues(serial_receive_queue, serial_transmit_queue, error)) {
        fail(comm_setup_failed, error);
    }
    timeouts_ = serial_port_timeouts;
    if (!handle_->set_timeouts(timeouts_, error)) {
        fail(comm_timeouts_failed, error);
    }
    is_open_.store(true, std::memory_order_release);
}

void CSerialPort::write_all(const std::uint8_t* data, std::size_t size) {
    require_open();
    std::uint32_t written = 0;  // a short write is not detected, as on the original port
    os_error error;
    if (!handle_->write(data, static_cast<std::uint32_t>(size), written, error)) {
        raise(comm_write_failed, error);
    }
}

int CSerialPort::Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level) {
    if (n > serial_max_message) {
        return -1;
    }
    std::vector<std::uint8_t> head;
    head.reserve(n + 2);
    head.push_back(frame_sync_1);
    head.push_back(frame_sync_2);
    head.insert(head.end(), message, message + n);
    if (verbose_level > 5) {
        const auto at = [&](std::size_t k) { return k < n ? unsigned{message[k]} : 0U; };
        out_printf("\nSend_Message Lenght %d (CMD %2X SUB %2X P1 %2X)\n", static_cast<int>(n + 5),
                   at(4), at(5), at(6));
    }
    const std::size_t piece =
        small_chunks.load(std::memory_order_relaxed) != 0 ? serial_small_piece : serial_piece;
    for (std::size_t at = 0; at < head.size(); at += piece) {
        write_all(head.data() + at, std::min(piece, head.size() - at));
    }
    const auto trailer = serial_trailer(message, n);
    write_all(trailer.data(), trailer.size());
    return 0;
}

int CSerialPort::serial_write_byte(std::uint8_t byte) {
    write_all(&byte, 1);
    return 0;
}

void CSerialPort::serial_purge() {
    if (loader_mode.load(std::memory_order_acquire) == 0) {
        return;
    }
    require_open();
    os_error error;
    if (!handle_->purge_input(error)) {
        raise(comm_purge_failed, error);
    }
    serial_write_byte(interrupt_mode_byte);
    serial_write_byte(interrupt_mode_byte);
    sleep_ms(purge_pause_ms);
}

std::size_t CSerialPort::serial_read(std::span<std::uint8_t> buffer, std::size_t& fill) {
    std::size_t frame = 0;
    if (loader_mode.load(std::memory_order_acquire) == 1) {
        frame = assemble_frame(buffer, fill);
    } else if (fill > 0) {
        // Remote access: the unit's bytes are the terminal's output.
        out_write(reinterpret_cast<const char*>(buffer.data()), fill);
        fill = 0;
    }

    os_error error;
    std::uint32_t queued = 0;
    require_open();
    if (!handle_->clear_errors(queued, error)) {
        raise(comm_clear_error_failed, error);
    }
    // A complete frame goes to the dispatcher at once: the unit sends nothing more until it
    // has been answered.
    if (queued == 0 && frame == 0 && !handle_->wait_input(serial_idle_wait_ms, error)) {
        raise(comm_clear_error_failed, error);
    }
    for (;;) {
        require_open();
        if (!handle_->clear_errors(queued, error)) {
            raise(comm_clear_error_failed, error);
        }
        // A full buffer is left for the next pass, which takes a frame out of it first.
        const std::size_t room = buffer.size() - std::min(fill, buffer.size());
        const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(queued, room));
        if (want == 0) {
            return frame;
        }
        std::uint32_t got = 0;
        if (!handle_->read(buffer.data() + fill, want, got, error)) {
            raise(comm_read_failed, error);
        }
        fill += got;
        received_.fetch_add(got, std::memory_order_relaxed);
        if (got < want) {
            if (fill < buffer.size()) {
                buffer[fill] = 0;
            }
            if (got == 0) {
                return frame;  // the driver's count was ahead of its data; try next pass
            }
        }
    }
}

void CSerialPort::close() {
    if (!is_open()) {
        return;
    }
    is_open_.store(false, std::memory_order_release);
    os_error error;
    if (!handle_->close(error)) {
        raise(comm_close_failed, error);
    }
}

int serial_open(std::uint32_t n, std::unique_ptr<serial_device> device) {
    if (static_cast<std::int32_t>(n) <= 0) {
        return -1;
    }
    auto port = std::make_unique<CSerialPort>(device ? std::move(device) : make_serial_device());
    port->serial_configure("COM" + std::to_string(n), serial_device_name(n));
    serial_port.store(port.release(), std::memory_order_release);
    return 0;
}

int serial_open_named(const std::string& name, std::unique_ptr<serial_device> device) {
    if (name.empty()) {
        return -1;
    }
    auto port = std::make_unique<CSerialPort>(device ? std::move(device) : make_serial_device());
    port->serial_configure(name, serial_device_path(name));
    serial_port.store(port.release(), std::memory_order_release);
    return 0;
}

int Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level) {
    return port_or_raise().Send_Message(message, n, verbose_level);
}

int serial_write_byte(std::uint8_t byte) { return port_or_raise().serial_write_byte(byte); }

void serial_purge() {
    if (loader_mode.load(std::memory_order_acquire) == 0) {
        return;
    }
    port_or_raise().serial_purge();
}

std::size_t serial_read(std::span<std::uint8_t> buffer, std::size_t& fill) {
    return port_or_raise().serial_read(buffer, fill);
}

std::uint64_t received_bytes() {
    const CSerialPort* port = serial_port.load(std::memory_order_acquire);
    return port != nullptr ? port->received() : 0;
}

int serial_close() {
    std::unique_ptr<CSerialPort> port(serial_port.exchange(nullptr, std::memory_order_acq_rel));
    if (port) {
        port->close();
    }
    return 0;
}
