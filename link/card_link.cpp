#include "link/card_link.h"

#include "link/card_sender.h"

void card_unit_link::send_message(const std::uint8_t* message, std::size_t n, int trace_level) {
    card_Send_Message(message, n, trace_level);
}
