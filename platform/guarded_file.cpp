#include "platform/guarded_file.h"

#include <atomic>
#include <cstring>

#include "platform/file_system.h"
#include "platform/guarded_file_os.h"
#include "platform/output_os.h"
#include "platform/output.h"
#include "platform/process.h"

namespace {

// The guarded file's path and notice, kept where a signal handler can use them without
// allocating: written while `armed` is false, read only after it was seen true.
constexpr std::size_t text_room = 4096;
char armed_path[text_room];
char armed_notice[text_room];
std::atomic<std::size_t> armed_notice_length{0};
std::atomic<bool> armed{false};
std::atomic<bool> handlers_registered{false};

void copy_text(char (&to)[text_room], const std::string& text) {
    const std::size_t length = text.size() < text_room ? text.size() : text_room - 1;
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

// A signal ends the process: only async-signal-safe calls.
void on_signal() {
    if (armed.exchange(false, std::memory_order_acq_rel)) {
        os_remove_now(armed_path);
        out_status_clear_now();  // the notice goes on a line of its own
        os_write_stdout_now(armed_notice, armed_notice_length.load(std::memory_order_acquire));
    }
}

// The run ends early through process_exit or process_exit_now, on any thread.
void on_exit() {
    if (armed.exchange(false, std::memory_order_acq_rel)) {
        os_remove_now(armed_path);
        out_write(armed_notice, armed_notice_length.load(std::memory_order_acquire));
    }
}

void arm(const std::string& path, const std::string& notice) {
    if (!handlers_registered.exchange(true)) {
        process_at_exit(on_exit);
        process_on_signal(on_signal);
    }
    armed.store(false, std::memory_order_release);
    copy_text(armed_path, path);
    copy_text(armed_notice, notice);
    armed_notice_length.store(std::strlen(armed_notice), std::memory_order_release);
    armed.store(true, std::memory_order_release);
}

void disarm() { armed.store(false, std::memory_order_release); }

}  // namespace

guarded_file::~guarded_file() {
    if (is_open()) {
        remove();
    }
}

bool guarded_file::create(const std::string& path, const std::string& notice) {
    if (is_open()) {
        remove();
    }
    path_ = path;
    // Guarded before it exists, so that no moment is left in which it could stay behind.
    arm(path, notice);
    handle_ = os_create_for_writing(path.c_str());
    if (!is_open()) {
        disarm();
        return false;
    }
    return true;
}

bool guarded_file::write(const std::uint8_t* data, std::size_t length) {
    if (!is_open() || (length != 0 && data == nullptr)) {
        return false;
    }
    if (!os_write_all(handle_, data, length)) {
        error_ = last_os_error();  // taken at once: the removal that follows may change it
        return false;
    }
    return true;
}

bool guarded_file::finish(const std::string& final_path) {
    if (!is_open()) {
        return false;
    }
    const bool closed = os_close(handle_);
    handle_ = no_handle;
    if (closed && replace_file(path_, final_path)) {
        disarm();
        return true;
    }
    error_ = last_os_error();
    os_remove_now(path_.c_str());
    disarm();
    return false;
}

void guarded_file::remove() {
    if (is_open()) {
        os_close(handle_);
        handle_ = no_handle;
    }
    os_remove_now(path_.c_str());
    disarm();
}
