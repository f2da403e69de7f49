#include "platform/guarded_file.h"

#include <atomic>
#include <cstring>

#include "platform/file_system.h"
#include "platform/guarded_file_os.h"
#include "platform/output_os.h"
#include "platform/output.h"
#include "platform/process.h"

namespace {

// The guarded files' paths and notices, kept where a signal handler can use them without
// allocating: a slot is written while its `armed` is false and read only after it was seen
// true. Each unit of a run may write a file at a time, so there are slots for many.
constexpr std::size_t text_room = 4096;
constexpr std::size_t slot_count = 64;

struct guarded_slot {
    char path[text_room];
    char notice[text_room];
    std::atomic<std::size_t> notice_length{0};
    std::atomic<bool> taken{false};  // owned by a guarded file
    std::atomic<bool> armed{false};  // its file is to be removed on the way out
};
guarded_slot guarded_slots[slot_count];
std::atomic<bool> handlers_registered{false};

void copy_text(char (&to)[text_room], const std::string& text) {
    const std::size_t length = text.size() < text_room ? text.size() : text_room - 1;
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

// A signal ends the process: only async-signal-safe calls.
void on_signal() {
    for (guarded_slot& s : guarded_slots) {
        if (s.armed.exchange(false, std::memory_order_acq_rel)) {
            os_remove_now(s.path);
            out_status_clear_now();  // the notice goes on a line of its own
            os_write_stdout_now(s.notice, s.notice_length.load(std::memory_order_acquire));
        }
    }
}

// The run ends early through process_exit or process_exit_now, on any thread.
void on_exit() {
    for (guarded_slot& s : guarded_slots) {
        if (s.armed.exchange(false, std::memory_order_acq_rel)) {
            os_remove_now(s.path);
            out_write(s.notice, s.notice_length.load(std::memory_order_acquire));
        }
    }
}

// A free slot, armed for the path; slot_count when every slot is taken.
std::size_t arm(const std::string& path, const std::string& notice) {
    if (!handlers_registered.exchange(true)) {
        process_at_exit(on_exit);
        process_on_signal(on_signal);
    }
    for (std::size_t k = 0; k < slot_count; ++k) {
        guarded_slot& s = guarded_slots[k];
        if (s.taken.exchange(true, std::memory_order_acq_rel)) {
            continue;
        }
        copy_text(s.path, path);
        copy_text(s.notice, notice);
        s.notice_length.store(std::strlen(s.notice), std::memory_order_release);
        s.armed.store(true, std::memory_order_release);
        return k;
    }
    return slot_count;
}

void disarm(std::size_t k) {
    if (k < slot_count) {
        guarded_slots[k].armed.store(false, std::memory_order_release);
        guarded_slots[k].taken.store(false, std::memory_order_release);
    }
}

}  // namespace

guarded_file::~guarded_file() {
    if (is_open()) {
        remove();
    }
}

void guarded_file::close_handle() {
    if (handle_ != no_handle) {
        os_close(handle_);
        handle_ = no_handle;
    }
}

bool guarded_file::create(const std::string& path, const std::string& notice) {
    if (is_open()) {
        remove();
    }
    path_ = path;
    name_taken_ = false;
    // Guarded before it exists, so that no moment is left in which it could stay behind.
    slot_ = arm(path, notice);
    if (slot_ == slot_count) {
        error_ = os_error{0, "too many files written at once"};
        return false;
    }
    handle_ = os_create_new(path.c_str());
    if (handle_ == no_handle) {
        error_ = last_os_error();
        name_taken_ = is_name_taken(error_);
        disarm(slot_);
        return false;
    }
    armed_ = true;
    return true;
}

bool guarded_file::write(const std::uint8_t* data, std::size_t length) {
    if (handle_ == no_handle || (length != 0 && data == nullptr)) {
        return false;
    }
    if (!os_write_all(handle_, data, length)) {
        error_ = last_os_error();  // taken at once: the removal that follows may change it
        return false;
    }
    return true;
}

bool guarded_file::finish(const std::string& final_path, bool replace) {
    name_taken_ = false;
    if (!is_open()) {
        return false;
    }
    bool ok = true;
    if (handle_ != no_handle) {
        ok = os_close(handle_);
        handle_ = no_handle;
        if (!ok) {
            error_ = last_os_error();
        }
    }
    if (ok) {
        if (replace ? replace_file(path_, final_path)
                    : os_name_new(path_.c_str(), final_path.c_str())) {
            armed_ = false;
            disarm(slot_);
            return true;
        }
        error_ = last_os_error();
        if (!replace && is_name_taken(error_)) {
            name_taken_ = true;
            return false;  // still guarded, for another name
        }
    }
    remove();
    return false;
}

void guarded_file::remove() {
    close_handle();
    if (armed_) {
        os_remove_now(path_.c_str());
        armed_ = false;
        disarm(slot_);
    }
}
