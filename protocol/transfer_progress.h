// How far the running transfer has come, read from the loader's counters: a download's chunks
// acknowledged, an upload's blocks written, the log's blocks taken in. For the session's
// progress line; main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/operation_state.h"

struct unit;

// verify: an upload read back into memory to be compared with the file just loaded.
enum class transfer_kind { download, upload, verify, log };

struct transfer_progress {
    transfer_kind kind = transfer_kind::download;
    std::string name;        // the file sent, the file being written or the file compared
    std::uint64_t done = 0;  // bytes through
    std::uint64_t total = 0; // bytes in all; 0 while not yet known
    int retries = 0;         // requests of the whole run asked again after a time-out, so far
};

// True in the states of a transfer: a download from its file read to its last chunk's answer,
// a file upload, a log fetch.
bool is_transfer_state(operation_state state) noexcept;

// The transfer of that state; nothing in any other state.
std::optional<transfer_progress> running_transfer(const unit& u, operation_state state);
