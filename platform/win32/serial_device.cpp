// Win32 serial port. The handle is opened for overlapped I/O, although every call here waits
// for its own completion: on a handle opened for synchronous I/O Windows lets only one call run
// at a time, so the receiver's wait for input would hold up every write of the main thread.
#include "platform/serial_device.h"

#include <windows.h>

namespace {

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
            wait_.ov.hEvent == nullptr || !SetCommMask(handle_, EV_RXCHAR)) {
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
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = timeouts.read_interval;
        t.ReadTotalTimeoutMultiplier = timeouts.read_total_multiplier;
        t.ReadTotalTimeoutConstant = timeouts.read_total_constant;
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
        queued = status.cbInQue;
        return true;
    }

    bool wait_input(std::uint32_t milliseconds, os_error& error) override {
        // A wait that has not finished stays pending and is taken up by the next call, so that
        // no character event is lost between two calls. The reader asks the driver for queued
        // bytes before and after every wait, so the wait only decides how soon it looks again.
        if (!wait_pending_) {
            if (WaitCommEvent(handle_, &event_mask_, wait_.reset())) {
                return true;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                error = last_os_error();
                return false;
            }
            wait_pending_ = true;
        }
        const DWORD waited = WaitForSingleObject(wait_.ov.hEvent, milliseconds);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_TIMEOUT) {
            error = last_os_error();
            return false;
        }
        DWORD ignored = 0;
        if (GetOverlappedResult(handle_, &wait_.ov, &ignored, FALSE)) {
            wait_pending_ = false;
            return true;
        }
        const DWORD failure = GetLastError();
        if (failure == ERROR_IO_INCOMPLETE) {
            // Still waiting. An event signalled without a finished wait (wine does this) is
            // reset, or the next call would not wait at all.
            if (waited == WAIT_OBJECT_0) {
                ResetEvent(wait_.ov.hEvent);
            }
            return true;
        }
        wait_pending_ = false;
        // A purge of the receive queue may end a pending wait early; that is no failure.
        if (failure == ERROR_OPERATION_ABORTED) {
            return true;
        }
        error = os_error{failure, os_error_text(failure)};
        return false;
    }

    bool read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got,
              os_error& error) override {
        got = 0;
        DWORD n = 0;
        OVERLAPPED* ov = read_.reset();
        if (!ReadFile(handle_, data, size, &n, ov)) {
            if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, ov, &n, TRUE)) {
                error = last_os_error();
                return false;
            }
        }
        got = n;
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
        if (!PurgeComm(handle_, PURGE_RXCLEAR)) {
            error = last_os_error();
            return false;
        }
        return true;
    }

    bool close(os_error& error) override {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (wait_pending_) {
            CancelIoEx(h, &wait_.ov);
            DWORD ignored = 0;
            GetOverlappedResult(h, &wait_.ov, &ignored, TRUE);
            wait_pending_ = false;
        }
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
    DWORD event_mask_ = 0;
    bool wait_pending_ = false;
};

}  // namespace

std::unique_ptr<serial_device> make_serial_device() {
    return std::make_unique<win32_serial_device>();
}

std::string serial_device_name(std::uint32_t port_number) {
    // The \\.\ form opens COM10 and above as well; plain "COM10" names no device.
    return "\\\\.\\COM" + std::to_string(port_number);
}
