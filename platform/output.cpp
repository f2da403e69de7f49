#include "platform/output.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

void stdout_sink(const char* data, std::size_t size, void*) {
    std::fwrite(data, 1, size, stdout);
    std::fflush(stdout);
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

}  // namespace

void out_write(const char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const sink_slot& slot = active();
    slot.sink(data, size, slot.context);
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
}

void out_reset_sink() { current_sink.store(nullptr, std::memory_order_release); }
