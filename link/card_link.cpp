#include "link/card_link.h"

#include "link/card_receiver.h"
#include "link/card_sender.h"
#include "link/card_window.h"

namespace {

// How long a link being destroyed waits for its receiver: it starts after a second and then
// polls every 2 ms.
constexpr std::uint32_t card_receiver_end_wait_ms = 2000;

}  // namespace

card_unit_link::card_unit_link(volatile std::uint32_t* window, std::size_t rx_data)
    : window_(window),
      rx_data_(rx_data),
      rx_(std::make_unique<std::array<std::uint8_t, rx_buffer_size>>()) {}

card_unit_link::~card_unit_link() {
    if (thread_.started()) {
        stop(card_receiver_end_wait_ms);
    }
}

result card_unit_link::send_message(const std::uint8_t* message, std::size_t n, int trace_level) {
    send_card_message(mapped_window{window_}, message, n, trace_level);
    return result::success();
}

result card_unit_link::start(link_listener& listener) {
    stop_.store(false, std::memory_order_release);
    os_error error;
    const bool started = thread_.start(
        [this, &listener] {
            card_receiver_context context{*rx_, listener, last_heard_};
            run_card_receiver(mapped_window{window_}, rx_data_, context, stop_);
            return 0;
        },
        error);
    if (!started) {
        return result::failure(result_kind::no_resource,
                               "Cannot start the receiver thread: " + error.text, error);
    }
    if (!thread_.raise_priority(error)) {
        out_printf("SetThreadPriority() failed\n");
    }
    return result::success();
}

bool card_unit_link::stop(std::uint32_t wait_ms) {
    stop_.store(true, std::memory_order_release);
    return thread_.wait(wait_ms);
}
