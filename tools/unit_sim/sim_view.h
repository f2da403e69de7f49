// What a test or the program around the simulated unit may look at: everything the unit
// received, the bank it runs, its line mode, what it stores and its counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/messages.h"
#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_record.h"

enum class unit_mode : std::uint8_t {
    framed,   // "interrupt mode": loader messages in frames
    polling,  // "polling mode": the line is a plain terminal
};

struct sim_view {
    std::vector<received_item> received;
    std::uint8_t current_bank = 1;
    bool booting = false;        // between a reboot request and its last boot report
    unit_mode mode = unit_mode::framed;
    unit_memory memory;
    unsigned keep_alives = 0;
    unsigned loader_exits = 0;
    unsigned answers_sent = 0;       // answers written to the line, corrupted ones included
    // Held back by the drop fault, by silence or as a lost bank record.
    unsigned answers_dropped = 0;
    unsigned answers_corrupted = 0;  // sent with a wrong checksum on purpose
    unsigned answers_damaged = 0;    // given a damaged data byte under a right checksum
    unsigned line_bits_flipped = 0;  // by line noise, in answers and terminal text alike
    unsigned line_bytes_lost = 0;
    bool port_open = false;  // the line is in place; while pulled, what the unit sends is lost
};

// Good messages received with CMD 0x55 and this SUB (REBOOT_REQ: CMD 0x48).
std::size_t received_count(const sim_view& view, sub_code sub);
// The last such message, or nullptr.
const received_item* last_received(const sim_view& view, sub_code sub);
