// The rate of one transfer as the program's progress events show it.
//
// What is measured: the progress events of one operation on one port (they come about every
// 100 ms while it runs) from the first that reports bytes moved (done > 0) to the first that
// reports the most bytes the operation ever reported. The bytes are the difference of their
// "done", the time the difference of their "time". The operation's own start and end are
// left out on purpose: before the first bytes move the unit reboots into its boot loader and
// the file's header goes over, after the last the program asks for the bank table and waits,
// and none of that is part of the stop-and-wait bound (bench_timing.h) the rate is held
// against. As "done" counts whole chunks and is sampled, either end may lag the line by up to
// one chunk; over a 64 KiB transfer that is under 1 % of the bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/benchmark/bench_events.h"

struct progress_rate {
    double bytes = 0.0;     // "done" at the last event counted minus at the first
    double seconds = 0.0;   // between those two events
    std::size_t events = 0; // progress events of the operation on the port, in all

    double bytes_per_second() const noexcept { return seconds > 0.0 ? bytes / seconds : 0.0; }
};

// Nothing if the operation on the port has fewer than two progress events with bytes moved
// between them.
std::optional<progress_rate> measure_progress(const std::vector<run_event>& events,
                                              const std::string& port,
                                              const std::string& operation);
