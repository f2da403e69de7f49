#include "link/receiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>

#include "link/byte_order.h"
#include "link/comm_error.h"
#include "link/link_mode.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "platform/process.h"

std::array<std::uint8_t, rx_buffer_size> rx_buffer{};
std::size_t rx_fill = 0;
os_thread receiver_thread;
std::atomic<std::uint32_t> last_receive_tick{0};

namespace {

constexpr std::uint32_t receiver_stop_wait_ms = 100;

std::atomic<message_handler> handler{nullptr};
std::atomic<const std::atomic<std::uint8_t>*> trace_source{nullptr};

// Messages handed on so far, with a condition the main loop may wait on.
std::mutex dispatched_mutex;
std::condition_variable dispatched_changed;
std::uint64_t dispatched = 0;

void wait_on_receiver(std::uint64_t seen, std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(dispatched_mutex);
    dispatched_changed.wait_for(lock, std::chrono::milliseconds(ms),
                                [seen] { return dispatched != seen; });
}

std::atomic<message_wait> waiter{&wait_on_receiver};

// The incomplete frame at the start of rx_buffer; receiver thread only.
frame_stall_watch stall_watch;

}  // namespace

std::uint64_t messages_dispatched() {
    const std::lock_guard<std::mutex> lock(dispatched_mutex);
    return dispatched;
}

void wait_for_message(std::uint64_t seen, std::uint32_t ms) {
    waiter.load(std::memory_order_acquire)(seen, ms);
}

void set_message_wait(message_wait wait) {
    waiter.store(wait != nullptr ? wait : &wait_on_receiver, std::memory_order_release);
}

void dispatch_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                      std::uint8_t cmd, std::uint8_t sub) {
    if (const message_handler h = handler.load(std::memory_order_acquire)) {
        h(message, length, sa, cmd, sub);
    }
    {
        const std::lock_guard<std::mutex> lock(dispatched_mutex);
        ++dispatched;
    }
    dispatched_changed.notify_all();
}

void set_message_handler(message_handler h) { handler.store(h, std::memory_order_release); }

void set_receiver_trace_level(const std::atomic<std::uint8_t>* level) {
    trace_source.store(level, std::memory_order_release);
}

int receiver_trace_level() {
    const std::atomic<std::uint8_t>* level = trace_source.load(std::memory_order_acquire);
    return level != nullptr ? level->load(std::memory_order_relaxed) : 0;
}

void serial_receiver_pass() {
    const std::span<std::uint8_t> buffer(rx_buffer);
    const std::uint64_t before = received_bytes();
    const std::size_t frame = serial_read(buffer, rx_fill);
    if (received_bytes() != before) {
        last_receive_tick.store(tick_count_ms(), std::memory_order_release);
    }
    if (frame == 0) {
        if (loader_mode.load(std::memory_order_acquire) == 1) {
            stall_watch.check(buffer, rx_fill, tick_count_ms());
        }
        return;
    }
    // The frame is dispatched exactly as its checksum was verified, and only then removed.
    const std::uint8_t* message = rx_buffer.data() + frame_message_offset;
    const std::uint16_t length = get_be16(rx_buffer.data() + frame_length_offset);
    const std::uint8_t sa = message[1];
    const std::uint8_t cmd = message[4];
    const std::uint8_t sub = message[5];
    dispatch_message(message, length, sa, cmd, sub);
    if (receiver_trace_level() > 3) {
        out_printf("\nSA %02x CMD %02x SubCmd %02x Lenght %d\n", unsigned{sa}, unsigned{cmd},
                   unsigned{sub}, int{length});
    }
    consume_frame(buffer, rx_fill, frame);
}

int serial_receiver() {
    try {
        while (stop_receiver.load(std::memory_order_acquire) == 0) {
            serial_receiver_pass();
        }
        serial_close();
    } catch (const ECommError& error) {
        end_run_on_comm_error(error);
    }
    return 0;
}

void stop_receiver_and_exit(int status, bool quiet) {
    if (!quiet) {
        out_printf("\nTerminating sucker thread\n");
    }
    stop_receiver.store(1, std::memory_order_release);
    if (receiver_thread.wait(receiver_stop_wait_ms)) {
        process_exit(status);
    }
    // The receiver has not ended in time (a port that does not return): the process ends
    // with it still running, without running static destructors under its feet.
    process_exit_now(status);
}
