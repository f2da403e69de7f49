#include "link/card_window.h"

std::atomic<volatile std::uint32_t*> card_window{nullptr};
std::atomic<std::uint16_t> rx_register{0};
