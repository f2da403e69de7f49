// The progress line of a running transfer, for example
//   "  Download demo_fw.bin   61%   62.0/102.0 KiB   10.7 KiB/s   0:04 left"
// What is not known yet (the total before an upload's first block, the rate before it can be
// measured) shows as "--".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/transfer_progress.h"

// A transfer that has not moved for a while: how long, and how often it asked the unit again.
struct unit_silence {
    std::uint64_t seconds = 0;
    int asked_again = 0;
};

// The line for the transfer at the given rate in bytes per second, at most `width` characters
// long: a file name too long for it is shortened in the middle ("..."), and its control
// characters are shown, not obeyed. While the unit is silent, the sizes, the rate and the time
// left give way to how long it has been waited for, for example
//   "  Upload FW_Bank2.bin   37%   waiting for the unit 14 s, asked again 1 time"
std::string progress_line(const transfer_progress& transfer,
                          std::optional<double> bytes_per_second, std::size_t width,
                          std::optional<unit_silence> silence = std::nullopt);

// Whole seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string duration_text(std::uint64_t seconds);
