#include "platform/output.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/output_os.h"

namespace {

std::atomic<bool> to_stderr{false};

void stdout_sink(const char* data, std::size_t size, void*) {
    std::FILE* stream = to_stderr.load(std::memory_order_relaxed) ? stderr : stdout;
    std::fwrite(data, 1, size, stream);
    std::fflush(stream);
}

struct sink_slot {
    out_sink sink;
    void* context;
};

// Swapped whole, so that a printing thread never sees a sink with another sink's context.
std::atomic<const sink_slot*> current_sink{nullptr};
const sink_slot default_slot{stdout_sink, nullptr};
sink_slot custom_slot{nullptr, nullptr};

const sink_slot& active() {
    const sink_slot* slot = current_sink.load(std::memory_order_acquire);
    return slot != nullptr ? *slot : default_slot;
}

// One write at a time, so that the status line's bookkeeping matches what reached the screen:
// the main loop and the receiver thread both print.
std::mutex write_lock;
// The columns the status line covers, 0 while none is shown. Changed under write_lock; atomic
// for the erase of a signal handler, which takes no lock.
std::atomic<std::size_t> status_width{0};
// The last two characters written (not counting the status line), to tell whether the cursor
// stands on an empty line. The run starts on one.
char tail_before_last = '\0';
char tail_last = '\n';
// The block of lines under everything written (the units of a run), and its lines; under
// write_lock. The cursor stands on the line below it.
std::vector<std::string> block_lines;

// This thread's line prefix, and what it has of a line not yet ended.
thread_local std::string thread_prefix;
thread_local std::string thread_pending;
// A line that never ends is still written once it is this long.
constexpr std::size_t longest_pending_line = 4096;

// A line ends with "\n"; the menu's lines end with "\n\r", which also leaves an empty line.
bool line_is_empty() {
    return tail_last == '\n' || (tail_last == '\r' && tail_before_last == '\n');
}

void note_written(const char* data, std::size_t size) {
    if (size >= 2) {
        tail_before_last = data[size - 2];
    } else {
        tail_before_last = tail_last;
    }
    tail_last = data[size - 1];
}

// Carriage return, `width` blanks, carriage return.
std::string erasure(std::size_t width) {
    std::string text(width + 2, ' ');
    text.front() = '\r';
    text.back() = '\r';
    return text;
}

void erase_status_locked(const sink_slot& slot) {
    const std::size_t width = status_width.exchange(0);
    if (width != 0) {
        const std::string text = erasure(width);
        slot.sink(text.data(), text.size(), slot.context);
    }
}

void reset_line_state() {
    std::lock_guard<std::mutex> lock(write_lock);
    status_width.store(0);
    tail_before_last = '\0';
    tail_last = '\n';
    block_lines.clear();
}

bool block_shown() { return !block_lines.empty() && out_is_terminal(); }

void draw_block_locked(const sink_slot& slot) {
    std::string text;
    for (const std::string& line : block_lines) {
        text += line;
        text += '\n';
    }
    if (!text.empty()) {
        slot.sink(text.data(), text.size(), slot.context);
    }
}

// Text written while a block is shown goes where the block stood; the block follows it, on a
// line of its own.
void write_locked(const char* data, std::size_t size) {
    const sink_slot& slot = active();
    erase_status_locked(slot);
    const bool block = block_shown();
    if (block) {
        os_stdout_clear_lines_above(block_lines.size());
    }
    slot.sink(data, size, slot.context);
    note_written(data, size);
    if (block) {
        if (!line_is_empty()) {
            slot.sink("\n", 1, slot.context);
            note_written("\n", 1);
        }
        draw_block_locked(slot);
    }
}

// The thread's complete lines, each with its prefix, in one write.
void write_prefixed(const char* data, std::size_t size) {
    std::string lines;
    for (std::size_t k = 0; k < size; ++k) {
        const char c = data[k];
        if (c == '\r') {
            continue;
        }
        thread_pending += c;
        if (c == '\n' || thread_pending.size() >= longest_pending_line) {
            if (c != '\n') {
                thread_pending += '\n';
            }
            lines += thread_prefix;
            lines += thread_pending;
            thread_pending.clear();
        }
    }
    if (!lines.empty()) {
        std::lock_guard<std::mutex> lock(write_lock);
        write_locked(lines.data(), lines.size());
    }
}

}  // namespace

void out_write(const char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (!thread_prefix.empty()) {
        write_prefixed(data, size);
        return;
    }
    std::lock_guard<std::mutex> lock(write_lock);
    write_locked(data, size);
}

void out_set_thread_prefix(std::string prefix) {
    out_end_thread_line();
    thread_prefix = std::move(prefix);
}

const std::string& out_thread_prefix() { return thread_prefix; }

void out_end_thread_line() {
    if (!thread_pending.empty()) {
        const std::string line = thread_prefix + thread_pending + "\n";
        thread_pending.clear();
        std::lock_guard<std::mutex> lock(write_lock);
        write_locked(line.data(), line.size());
    }
}

std::function<int()> out_with_this_prefix(std::function<int()> body) {
    return [prefix = thread_prefix, body = std::move(body)] {
        out_set_thread_prefix(prefix);
        const int status = body();
        out_end_thread_line();
        return status;
    };
}

void out_status_block(const std::vector<std::string>& lines) {
    if (!out_is_terminal()) {
        return;
    }
    std::lock_guard<std::mutex> lock(write_lock);
    const sink_slot& slot = active();
    erase_status_locked(slot);
    if (!line_is_empty()) {
        slot.sink("\n", 1, slot.context);
        note_written("\n", 1);
    }
    if (!block_lines.empty()) {
        os_stdout_clear_lines_above(block_lines.size());
    }
    block_lines = lines;
    draw_block_locked(slot);
}

void out_use_standard_error() {
    to_stderr.store(true);
    os_output_to_stderr();
}

void out_printf(const char* format, ...) {
    std::array<char, 1024> small{};
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small.data(), small.size(), format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(needed) < small.size()) {
        va_end(again);
        out_write(small.data(), static_cast<std::size_t>(needed));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    out_write(large.data(), static_cast<std::size_t>(needed));
}

void out_set_sink(out_sink sink, void* context) {
    current_sink.store(nullptr, std::memory_order_release);
    custom_slot = sink_slot{sink, context};
    current_sink.store(&custom_slot, std::memory_order_release);
    reset_line_state();
}

void out_reset_sink() {
    current_sink.store(nullptr, std::memory_order_release);
    reset_line_state();
}

bool out_is_terminal() {
    return current_sink.load(std::memory_order_acquire) == nullptr && os_stdout_is_terminal();
}

std::size_t out_terminal_columns() { return os_stdout_columns(); }

std::size_t out_terminal_rows() { return os_stdout_rows(); }

void out_status(std::string_view text) {
    std::lock_guard<std::mutex> lock(write_lock);
    const std::size_t shown = status_width.load();
    if (shown == 0 && !line_is_empty()) {
        return;  // the line holds other text, which the status line would overwrite
    }
    std::string line = "\r";
    line.append(text);
    if (text.size() < shown) {
        line.append(shown - text.size(), ' ');
    }
    const sink_slot& slot = active();
    slot.sink(line.data(), line.size(), slot.context);
    status_width.store(line.size() - 1);
}

void out_status_clear() {
    if (status_width.load() == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(write_lock);
    erase_status_locked(active());
}

void out_status_clear_now() noexcept {
    std::size_t width = status_width.exchange(0);
    if (width == 0 || current_sink.load(std::memory_order_acquire) != nullptr) {
        return;
    }
    std::array<char, 514> text{};
    if (width > text.size() - 2) {
        width = text.size() - 2;
    }
    text[0] = '\r';
    for (std::size_t i = 1; i <= width; ++i) {
        text[i] = ' ';
    }
    text[width + 1] = '\r';
    os_write_stdout_now(text.data(), width + 2);
}
