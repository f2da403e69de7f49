// What the simulated unit received, as one readable line per item ("raw 23",
// "message 2A 10 00 02 55 19 00", "bad_frame ..."), so that a whole exchange is compared at
// once and a difference shows where the order went wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "tools/unit_sim/sim_record.h"

std::vector<std::string> wire_lines(const std::vector<received_item>& items);

// The line of one raw byte sent outside any frame.
std::string raw_line(std::uint8_t byte);

// The line of a seven-byte loader request with P1 = 0 (BOOTINFO_REQ, FLASH_INFO_REQ,
// LOADER_EXIT, SAFEMODE_REQ, KEEP_ALIVE).
std::string short_request_line(sub_code sub);
