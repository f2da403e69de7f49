// The two stop-and-wait transfers the benchmarks measure, as bench_timing.h needs them: a
// download (DL_DATA answered by DL_ACK) and an upload or read-back (FILE_REQ answered by
// FILE_ACK).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/benchmark/bench_timing.h"

request_kind download_kind();
// `content` is the file read back; it must outlive the returned object.
request_kind upload_kind(const std::vector<std::uint8_t>& content);
