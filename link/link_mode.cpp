// The link-mode flags and their start values.
#include "link/link_mode.h"

std::atomic<int> serial_link{0};
std::atomic<int> loader_mode{0};
std::atomic<int> remote_access{0};
std::atomic<int> stop_receiver{0};

void reset_link_mode() {
    serial_link.store(0, std::memory_order_release);
    loader_mode.store(0, std::memory_order_release);
    remote_access.store(0, std::memory_order_release);
    stop_receiver.store(0, std::memory_order_release);
}
