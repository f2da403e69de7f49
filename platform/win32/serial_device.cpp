// Win32 serial port. The handle is opened for overlapped I/O, although every call here waits
// for its own completion: on a handle opened for synchronous I/O Windows lets only one call run
// at a time, so the receiver's wait for input would hold up every write of the main thread.
// The wait for input is a read of one byte that returns as soon as a byte arrives or when the
// read time-out has passed; that byte is held and handed out first by the next read.
#include "platform/serial_device.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr DWORD input_wait_ms = 25;  // how long a wait for input lasts at most
// Beyond its time-out a wait for input is cancelled. Windows ends the read itself at the
// time-out; wine on a busy machine has been seen to leave it running until cancelled, and every
// answer from the unit would then wait that long.
constexpr DWORD stuck_read_ms = 25;

// One overlapped operation with its own event, used by one thread at a time.
struct overlapped_slot {
    OVERLAPPED ov{};
    overlapped_slot() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~overlapped_slot() {
        if (ov.hEvent != nullptr) {
            CloseHandle(ov.hEvent);
        }
    }
    overlapped_slot(const overlapped_slot&) = delete;
    overlapped_slot& operator=(const overlapped_slot&) = delete;
    OVERLAPPED* reset() {
        HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
        ResetEvent(event);
        return &ov;
    }
};

class win32_serial_device final : public serial_device {
public:
    ~win32_serial_device() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            os_error ignored;
            close(ignored);
        }
    }

    bool open(const std::string& device_name, os_error& error) override {
        handle_ = CreateFileA(device_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            error = last_os_error();
            return false;
        }
        if (read_.ov.hEvent == nullptr || write_.ov.hEvent == nullptr ||
            wait_.ov.hEvent == nullptr) {
            error = last_os_error();
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
            return false;
        }
        return true;
    }

    bool get_line(os_error& error) override {
        dcb_ = DCB{};
        dcb_.DCBlength = sizeof(DCB);
        if (!GetCommState(handle_, &dcb_)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool set_line(const line_settings& settings, os_error& error) override {
        DCB d = dcb_;
        d.BaudRate = settings.baud_rate;
        d.ByteSize = settings.byte_size;
        d.Parity = settings.parity;
        d.StopBits = settings.stop_bits;
        d.fBinary = TRUE;  // Windows supports binary transfers only
        if (!SetCommState(handle_, &d)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool setup_queues(std::uint32_t receive, std::uint32_t transmit, os_error& error) override {
        if (!SetupComm(handle_, receive, transmit)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool set_timeouts(const comm_timeouts& timeouts, os_error& error) override {
        // Reads only ever take bytes that have arrived, except the wait for input: a read of
        // one byte that returns at once when a byte is there, or after the idle wait.
        static_cast<void>(timeouts.read_interval);
        static_cast<void>(timeouts.read_total_multiplier);
        static_cast<void>(timeouts.read_total_constant);
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = input_wait_ms;
        t.WriteTotalTimeoutMultiplier = timeouts.write_total_multiplier;
        t.WriteTotalTimeoutConstant = timeouts.write_total_constant;
        if (!SetCommTimeouts(handle_, &t)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool clear_errors(std::uint32_t& queued, os_error& error) override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            error = last_os_error();
            return false;
        }
        queued = status.cbInQue + (holding_ ? 1U : 0U);
        return true;
    }

    bool wait_input(std::uint32_t milliseconds, os_error& error) override {
        static_cast<void>(milliseconds);  // the read time-out set with the port is the wait
        if (holding_) {
            return true;
        }
        DWORD n = 0;
        OVERLAPPED* ov = wait_.reset();
        if (!ReadFile(handle_, &held_, 1, &n, ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                error = last_os_error();
                return false;
            }
            // The driver ends the read after the time-out at the latest; should it not, the
            // read is cancelled, so that no read is left running behind the next one.
            if (WaitForSingleObject(ov->hEvent, input_wait_ms + stuck_read_ms) != WAIT_OBJECT_0) {
                CancelIoEx(handle_, ov);
            }
            if (!GetOverlappedResult(handle_, ov, &n, TRUE)) {
                if (GetLastError() == ERROR_OPERATION_ABORTED) {
                    return true;  // a purge ended the wait
                }
                error = last_os_error();
                return false;
            }
        }
        holding_ = n == 1;
        return true;
    }

    bool read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got,
              os_error& error) override {
        got = 0;
        if (holding_ && size > 0) {
            *data++ = held_;
            --size;
            holding_ = false;
            got = 1;
            if (size == 0) {
                return true;
            }
        }
        DWORD n = 0;
        OVERLAPPED* ov = read_.reset();
        if (!ReadFile(handle_, data, size, &n, ov)) {
            if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, ov, &n, TRUE)) {
                error = last_os_error();
                return false;
            }
        }
        got += n;
        return true;
    }

    bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
               os_error& error) override {
        written = 0;
        DWORD n = 0;
        OVERLAPPED* ov = write_.reset();
        if (!WriteFile(handle_, data, size, &n, ov)) {
            if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, ov, &n, TRUE)) {
                error = last_os_error();
                return false;
            }
        }
        written = n;
        return true;
    }

    bool purge_input(os_error& error) override {
        holding_ = false;
        if (!PurgeComm(handle_, PURGE_RXCLEAR)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool close(os_error& error) override {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!CloseHandle(h)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DCB dcb_{};
    overlapped_slot read_;
    overlapped_slot write_;
    overlapped_slot wait_;
    std::uint8_t held_ = 0;  // the byte the wait for input took in
    bool holding_ = false;
};

}  // namespace

std::unique_ptr<serial_device> make_serial_device() {
    return std::make_unique<win32_serial_device>();
}

std::string serial_device_name(std::uint32_t port_number) {
    // The \\.\ form opens COM10 and above as well; plain "COM10" names no device.
    return "\\\\.\\COM" + std::to_string(port_number);
}

std::string serial_device_path(const std::string& port_name) {
    const bool com_name = port_name.size() > 3 && _strnicmp(port_name.c_str(), "COM", 3) == 0 &&
                          std::all_of(port_name.begin() + 3, port_name.end(), [](char c) {
                              return std::isdigit(static_cast<unsigned char>(c)) != 0;
                          });
    return com_name ? "\\\\.\\" + port_name : port_name;
}
