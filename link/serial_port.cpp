#include "link/serial_port.h"

#include <algorithm>
#include <vector>

#include "link/frame.h"
#include "platform/clock.h"
#include "platform/output.h"

namespace {

constexpr std::uint8_t interrupt_mode_byte = 0x23;  // '#': the unit takes up framed messages
constexpr std::uint32_t purge_pause_ms = 100;

}  // namespace

CSerialPort::CSerialPort(std::unique_ptr<serial_device> device) : handle_(std::move(device)) {}

result CSerialPort::failure(int code, const os_error& error) const {
    return comm_failure(code, error, port_name_);
}

result CSerialPort::require_open() const {
    if (!is_open()) {
        return failure(comm_not_open, {});
    }
    return result::success();
}

result CSerialPort::serial_configure(const std::string& name, const std::string& device_name) {
    if (is_open()) {
        return result::success();
    }
    const line_settings kept = dcb_;
    port_name_ = name;
    os_error error;
    if (!handle_->open(device_name, error)) {
        return failure(comm_create_failed, error);
    }
    // On a failure the handle is closed first; the error is the one of the failed step.
    const auto fail = [this](int code, const os_error& cause) {
        os_error ignored;
        handle_->close(ignored);
        return failure(code, cause);
    };
    if (!handle_->get_line(error)) {
        return fail(comm_get_state_failed, error);
    }
    dcb_.byte_size = kept.byte_size;
    dcb_.parity = kept.parity;
    dcb_.stop_bits = kept.stop_bits;
    dcb_.baud_rate = serial_baud_rate;
    if (!handle_->set_line(dcb_, error)) {
        return fail(comm_set_state_failed, error);
    }
    if (!handle_->setup_queues(serial_receive_queue, serial_transmit_queue, error)) {
        return fail(comm_setup_failed, error);
    }
    timeouts_ = serial_port_timeouts;
    if (!handle_->set_timeouts(timeouts_, error)) {
        return fail(comm_timeouts_failed, error);
    }
    is_open_.store(true, std::memory_order_release);
    return result::success();
}

result CSerialPort::write_all(const std::uint8_t* data, std::size_t size) {
    if (result open = require_open(); !open) {
        return open;
    }
    std::uint32_t written = 0;  // a short write is not detected, as on the original port
    os_error error;
    if (!handle_->write(data, static_cast<std::uint32_t>(size), written, error)) {
        return failure(comm_write_failed, error);
    }
    return result::success();
}

result CSerialPort::Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level,
                                 bool small_pieces) {
    if (n > serial_max_message) {
        return result::failure(result_kind::refused, "message too long for a serial frame");
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
    const std::size_t piece = small_pieces ? serial_small_piece : serial_piece;
    for (std::size_t at = 0; at < head.size(); at += piece) {
        if (result written = write_all(head.data() + at, std::min(piece, head.size() - at));
            !written) {
            return written;
        }
    }
    const auto trailer = serial_trailer(message, n);
    return write_all(trailer.data(), trailer.size());
}

result CSerialPort::serial_write_byte(std::uint8_t byte) { return write_all(&byte, 1); }

result CSerialPort::serial_purge() {
    if (result open = require_open(); !open) {
        return open;
    }
    os_error error;
    if (!handle_->purge_input(error)) {
        return failure(comm_purge_failed, error);
    }
    for (int k = 0; k < 2; ++k) {
        if (result written = serial_write_byte(interrupt_mode_byte); !written) {
            return written;
        }
    }
    sleep_ms(purge_pause_ms);
    return result::success();
}

result CSerialPort::serial_read(std::span<std::uint8_t> buffer, std::size_t& fill,
                                bool loader_mode, std::atomic<int>& crc_errors,
                                std::size_t& frame) {
    frame = 0;
    if (loader_mode) {
        frame = assemble_frame(buffer, fill, crc_errors);
    } else if (fill > 0) {
        // Remote access: the unit's bytes are the terminal's output.
        out_write(reinterpret_cast<const char*>(buffer.data()), fill);
        fill = 0;
    }

    os_error error;
    std::uint32_t queued = 0;
    if (result open = require_open(); !open) {
        return open;
    }
    if (!handle_->clear_errors(queued, error)) {
        return failure(comm_clear_error_failed, error);
    }
    // A complete frame goes to the listener at once: the unit sends nothing more until it has
    // been answered.
    if (queued == 0 && frame == 0 && !handle_->wait_input(serial_idle_wait_ms, error)) {
        return failure(comm_clear_error_failed, error);
    }
    for (;;) {
        if (result open = require_open(); !open) {
            return open;
        }
        if (!handle_->clear_errors(queued, error)) {
            return failure(comm_clear_error_failed, error);
        }
        // A full buffer is left for the next pass, which takes a frame out of it first.
        const std::size_t room = buffer.size() - std::min(fill, buffer.size());
        const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(queued, room));
        if (want == 0) {
            return result::success();
        }
        std::uint32_t got = 0;
        if (!handle_->read(buffer.data() + fill, want, got, error)) {
            return failure(comm_read_failed, error);
        }
        fill += got;
        received_.fetch_add(got, std::memory_order_relaxed);
        if (got < want) {
            if (fill < buffer.size()) {
                buffer[fill] = 0;
            }
            if (got == 0) {
                return result::success();  // the driver's count was ahead of its data
            }
        }
    }
}

result CSerialPort::close() {
    if (!is_open()) {
        return result::success();
    }
    is_open_.store(false, std::memory_order_release);
    os_error error;
    if (!handle_->close(error)) {
        return failure(comm_close_failed, error);
    }
    return result::success();
}
