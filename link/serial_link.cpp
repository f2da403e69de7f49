#include "link/serial_link.h"

#include "link/link_mode.h"
#include "link/serial_port.h"

bool serial_unit_link::carries_messages() const {
    return loader_mode.load(std::memory_order_acquire) == 1;
}

void serial_unit_link::send_message(const std::uint8_t* message, std::size_t n, int trace_level) {
    Send_Message(message, n, trace_level);
}

void serial_unit_link::send_raw_byte(std::uint8_t byte) { serial_write_byte(byte); }

void serial_unit_link::purge() { serial_purge(); }
