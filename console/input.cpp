#include "console/input.h"

#include <cstdint>
#include <utility>

#include "console/keys.h"
#include "platform/output.h"

namespace {

// One poll waits this long for a key. The wait ends as soon as a key arrives, so keys are
// taken at once, yet a dialog that waits for the user does not keep a processor busy; the
// idle work it runs on every poll (the keep-alive) needs to act only every ten seconds.
constexpr std::uint32_t poll_ms = 10;

// The answer to every question once input has ended: each dialog takes it as "cancel".
constexpr int cancel_key = 'q';

constexpr int carriage_return = 13;

// The console's one set of key waits: whoever runs the dialogs hands in what runs while they wait.
std::function<void()> idle_work;
constexpr int line_feed = 10;

}  // namespace

void set_key_wait_idle(std::function<void()> idle) { idle_work = std::move(idle); }

int wait_key() {
    for (;;) {
        const bool waiting = key_waiting(poll_ms);
        const int key = waiting ? read_key() : -1;
        // Also in the pass that reads the key, so that a user typing steadily never starves it.
        if (idle_work) {
            idle_work();
        }
        if (key >= 0) {
            return key;
        }
        if (waiting || keys_ended()) {
            return cancel_key;
        }
    }
}

int read_number(int& number) {
    // Unsigned, so that a long row of digits wraps modulo 2^32 instead of overflowing; callers
    // keep only what they need of the value (the verbose level its low 8 bits).
    std::uint32_t value = 0;
    number = 0;
    for (;;) {
        const int key = wait_key();
        if (key == 'q' || key == 'Q') {
            return -1;
        }
        if (key == carriage_return || key == line_feed) {
            return 1;
        }
        if (key == 0) {
            continue;
        }
        if (key >= '0' && key <= '9') {
            value = value * 10u + static_cast<std::uint32_t>(key - '0');
            number = static_cast<int>(value);
        }
        out_printf("%c", key);
    }
}
