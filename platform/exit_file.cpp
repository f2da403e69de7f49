#include "platform/exit_file.h"

#include <array>
#include <atomic>
#include <cstddef>

#include "platform/guarded_file.h"
#include "platform/guarded_file_os.h"
#include "platform/process.h"

namespace {

// The prepared texts in a ring: a new one is written into the next slot and then published,
// so that a handler running on another thread reads a slot nobody writes meanwhile.
constexpr std::size_t temporary_names = 4;
struct prepared {
    std::string path;
    // Names to write it under first, tried in turn: each must be new, so that another run's
    // file or a link put there is never written through.
    std::array<std::string, temporary_names> temporary_paths;
    std::string before;
    std::string after;
};
constexpr std::size_t slots = 4;
std::array<prepared, slots> ring;
std::atomic<int> published{-1};  // the slot to write, or -1 for none
std::size_t next_slot = 0;
std::atomic<bool> registered{false};

// The status as decimal digits, without the library.
std::size_t decimal(int status, char (&text)[16]) {
    long long value = status;
    const bool negative = value < 0;
    char reversed[16];
    std::size_t n = 0;
    unsigned long long magnitude = negative ? static_cast<unsigned long long>(-value)
                                            : static_cast<unsigned long long>(value);
    do {
        reversed[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && n < sizeof reversed);
    std::size_t length = 0;
    if (negative) {
        text[length++] = '-';
    }
    while (n > 0 && length < sizeof text) {
        text[length++] = reversed[--n];
    }
    return length;
}

// Async-signal-safe on Linux: open, write, close and rename only.
void write_prepared() {
    const int slot = published.exchange(-1);
    if (slot < 0) {
        return;
    }
    const prepared& p = ring[static_cast<std::size_t>(slot)];
    std::intptr_t file = guarded_file::no_handle;
    const char* temporary = nullptr;
    for (const std::string& name : p.temporary_paths) {
        file = os_create_new(name.c_str());
        if (file != guarded_file::no_handle) {
            temporary = name.c_str();
            break;
        }
    }
    if (temporary == nullptr) {
        return;
    }
    char status[16];
    const std::size_t status_length = decimal(process_ending_status(), status);
    const bool written =
        os_write_all(file, reinterpret_cast<const std::uint8_t*>(p.before.data()), p.before.size()) &&
        os_write_all(file, reinterpret_cast<const std::uint8_t*>(status), status_length) &&
        os_write_all(file, reinterpret_cast<const std::uint8_t*>(p.after.data()), p.after.size());
    const bool closed = os_close(file);
    if (written && closed) {
        os_replace_now(temporary, p.path.c_str());
    } else {
        os_remove_now(temporary);
    }
}

}  // namespace

void prepare_exit_file(const std::string& path, const std::string& before_status,
                       const std::string& after_status) {
    if (!registered.exchange(true)) {
        process_at_exit(write_prepared);
        process_on_signal(write_prepared);
    }
    prepared& p = ring[next_slot];
    p.path = path;
    for (std::size_t k = 0; k < temporary_names; ++k) {
        p.temporary_paths[k] = k == 0 ? path + ".part" : path + "." + std::to_string(k + 1) + ".part";
    }
    p.before = before_status;
    p.after = after_status;
    published.store(static_cast<int>(next_slot));
    next_slot = (next_slot + 1) % slots;
}

void cancel_exit_file() { published.store(-1); }
