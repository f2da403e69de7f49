#include "protocol/transfer_progress.h"

#include <algorithm>

#include "files/file_types.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/upload.h"

namespace {

transfer_progress download_progress(const unit& u, operation_state state) {
    const firmware_operation_record& op = u.op;
    const std::uint64_t chunk = op.chunk_size;
    std::uint64_t chunks = 0;
    if (state == operation_state::sending_chunk) {
        chunks = op.seq_no;  // every chunk sent so far was acknowledged
    } else if (state == operation_state::awaiting_chunk_answer && op.seq_no > 0) {
        chunks = op.seq_no - 1u;  // the last one sent is still unanswered
    }
    transfer_progress p;
    p.kind = transfer_kind::download;
    p.name = op.file_path;
    p.total = op.file_size;
    p.done = std::min(chunks * chunk, p.total);
    return p;
}

transfer_progress upload_progress(const unit& u) {
    const firmware_operation_record& op = u.op;
    transfer_progress p;
    if (u.upload.into_memory) {
        // A read-back names the file it is compared with, not a file it does not write.
        p.kind = transfer_kind::verify;
        p.name = op.file_path;
    } else {
        p.kind = transfer_kind::upload;
        p.name = output_file_name(op.file_type, op.bank)
                     .value_or(std::string());
    }
    if (u.upload.repair_pass > 0) {
        p.name += " (read again)";
    }
    // The size is the file's own once the first block has been taken.
    if (op.expected_seq > 0 || u.upload.repair_pass > 0) {
        p.total = op.file_size;
        const std::uint64_t blocks = op.expected_seq;
        p.done = std::min(blocks * op.chunk_size, p.total);
    }
    return p;
}

transfer_progress log_progress(const unit& u) {
    const log_fetch_count count = log_fetch_progress(u);
    transfer_progress p;
    p.kind = transfer_kind::log;
    p.name = u.upload.log_read == 2 ? "log.txt (read again)" : "log.txt";
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

std::optional<transfer_progress> running_transfer(const unit& u, operation_state state) {
    const std::optional<transfer_kind> kind = kind_of(state);
    if (!kind) {
        return std::nullopt;
    }
    transfer_progress progress;
    switch (*kind) {
    case transfer_kind::download:
        progress = download_progress(u, state);
        break;
    case transfer_kind::upload:
    case transfer_kind::verify:
        progress = upload_progress(u);
        break;
    case transfer_kind::log:
        progress = log_progress(u);
        break;
    }
    progress.retries = u.op.retry_count;
    return progress;
}
