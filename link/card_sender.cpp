#include "link/card_sender.h"

void card_Send_Message(const std::uint8_t* message, std::size_t n, int verbose_level) {
    send_card_message(installed_card_window(), message, n, verbose_level);
}
