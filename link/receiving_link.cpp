#include "link/receiving_link.h"

#include <utility>

#include "platform/output.h"

namespace {

// How long a link being destroyed waits for its receiver: a serial pass waits at most 25 ms for
// input and 250 ms for a read; the card's receiver starts after a second, then polls every 2 ms.
constexpr std::uint32_t receiver_end_wait_ms = 2000;

}  // namespace

result receiving_link::start_receiver(std::function<int()> body) {
    stop_.store(false, std::memory_order_release);
    os_error error;
    if (!thread_.start(std::move(body), error)) {
        return result::failure(result_kind::no_resource,
                               "Cannot start the receiver thread: " + error.text, error);
    }
    if (!thread_.raise_priority(error)) {
        out_printf("SetThreadPriority() failed\n");
    }
    return result::success();
}

bool receiving_link::stop(std::uint32_t wait_ms) {
    stop_.store(true, std::memory_order_release);
    return thread_.wait(wait_ms);
}

void receiving_link::end_receiver() {
    if (thread_.started()) {
        stop(receiver_end_wait_ms);
    }
}
