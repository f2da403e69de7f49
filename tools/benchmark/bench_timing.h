// The transfer time of one stop-and-wait transfer, reconstructed from what the simulated unit
// received and when.
//
// What is measured: the unit stamps every message it receives with the moment its last byte
// arrived on the paced line. A request of w bytes therefore began to arrive w byte times
// (1/11520 s each at 115200 baud 8N1) earlier, and the unit hands its answer to the line at
// that same stamp, so an answer of a bytes has left the line a byte times later. The transfer
// runs from the first byte of the first request (DL_DATA or FILE_REQ) to the last byte of the
// answer to the last request (DL_ACK or FILE_ACK). Connecting, rebooting, the file header and
// everything after the last answer are outside it. The program's own turnaround and any
// lateness of the unit's writes show up as line time in which nothing moves: the idle time
// between an answer's end and the next request's beginning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "protocol/messages.h"
#include "tools/unit_sim/sim_record.h"

// Line bytes per second at 115200 baud, 8N1.
inline constexpr double line_bytes_per_second = 11520.0;
// A frame adds the sync pair, the checksum and the two trailer bytes to its message.
inline constexpr std::size_t frame_extra_bytes = 5;

struct idle_figures {
    double min_ms = 0.0;
    double median_ms = 0.0;
    double mean_ms = 0.0;
    double p90_ms = 0.0;
    double max_ms = 0.0;
    double total_s = 0.0;
};

struct transfer_figures {
    std::size_t requests = 0;      // requests received, repeats included
    std::size_t chunks = 0;        // distinct chunk or block numbers
    std::size_t others = 0;        // other items received while the transfer ran
    std::size_t request_wire = 0;  // line bytes of the first request
    std::size_t answer_wire = 0;   // line bytes of its answer
    double measured_s = 0.0;       // first request's first byte to the last answer's last byte
    double bound_s = 0.0;          // every distinct chunk once, back to back, no idle line
    idle_figures idle;             // between an answer's end and the next request's start
};

struct request_kind {
    sub_code sub;
    // The chunk or block number a request carries.
    std::function<std::uint16_t(std::span<const std::uint8_t>)> number;
    // Line bytes of the unit's answer to a request.
    std::function<std::size_t(std::span<const std::uint8_t>)> answer_wire;
};

// The figures of the requests of `kind` among `items`, or nothing if there are none.
std::optional<transfer_figures> measure_transfer(const std::vector<received_item>& items,
                                                 const request_kind& kind);
