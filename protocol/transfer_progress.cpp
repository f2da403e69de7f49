#include "protocol/transfer_progress.h"

#include <algorithm>

#include "files/file_types.h"
#include "protocol/loader_state.h"
#include "protocol/upload.h"

namespace {

transfer_progress download_progress(operation_state state) {
    const std::uint64_t chunk = firmware_operation.chunk_size;
    std::uint64_t chunks = 0;
    if (state == operation_state::sending_chunk) {
        chunks = firmware_operation.seq_no;  // every chunk sent so far was acknowledged
    } else if (state == operation_state::awaiting_chunk_answer && firmware_operation.seq_no > 0) {
        chunks = firmware_operation.seq_no - 1u;  // the last one sent is still unanswered
    }
    transfer_progress p;
    p.kind = transfer_kind::download;
    p.name = firmware_operation.file_path;
    p.total = firmware_operation.file_size.load();
    p.done = std::min(chunks * chunk, p.total);
    return p;
}

transfer_progress upload_progress() {
    transfer_progress p;
    if (reading_back()) {
        // A read-back names the file it is compared with, not a file it does not write.
        p.kind = transfer_kind::verify;
        p.name = firmware_operation.file_path;
    } else {
        p.kind = transfer_kind::upload;
        p.name = output_file_name(firmware_operation.file_type, firmware_operation.bank)
                     .value_or(std::string());
    }
    // The size is the file's own once the first block has been taken.
    if (firmware_operation.expected_seq > 0) {
        p.total = firmware_operation.file_size.load();
        const std::uint64_t blocks = firmware_operation.expected_seq;
        p.done = std::min(blocks * firmware_operation.chunk_size, p.total);
    }
    return p;
}

transfer_progress log_progress() {
    const log_fetch_count count = log_fetch_progress();
    transfer_progress p;
    p.kind = transfer_kind::log;
    p.name = "log.txt";
    p.total = count.total;
    p.done = std::min(count.done, count.total);
    return p;
}

// The kind of transfer a state belongs to.
std::optional<transfer_kind> kind_of(operation_state state) noexcept {
    switch (state) {
    case operation_state::preparing_download:
    case operation_state::awaiting_dl_ready:
    case operation_state::awaiting_info_ack:
    case operation_state::sending_chunk:
    case operation_state::awaiting_chunk_answer:
        return transfer_kind::download;
    case operation_state::uploading:
        return transfer_kind::upload;
    case operation_state::fetching_log:
    case operation_state::fetching_log_to_view:
        return transfer_kind::log;
    default:
        return std::nullopt;
    }
}

}  // namespace

bool is_transfer_state(operation_state state) noexcept { return kind_of(state).has_value(); }

std::optional<transfer_progress> running_transfer(operation_state state) {
    const std::optional<transfer_kind> kind = kind_of(state);
    if (!kind) {
        return std::nullopt;
    }
    transfer_progress progress;
    switch (*kind) {
    case transfer_kind::download:
        progress = download_progress(state);
        break;
    case transfer_kind::upload:
    case transfer_kind::verify:
        progress = upload_progress();
        break;
    case transfer_kind::log:
        progress = log_progress();
        break;
    }
    progress.retries = firmware_operation.retry_count;
    return progress;
}
