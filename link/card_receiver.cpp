#include "link/card_receiver.h"

int card_receiver() {
    run_card_receiver(installed_card_window(), rx_register.load(std::memory_order_acquire));
    return 0;
}
