#include "app/run_journal.h"

#include <utility>

#include "protocol/run_outcome.h"

namespace {

constexpr const char* interrupted = "interrupted";

}  // namespace

void run_journal::begin(std::string operation, std::string file, std::string target) {
    end();
    entries_.push_back({std::move(operation), std::move(file), std::move(target), interrupted, {}});
    running_ = true;
    failures_at_begin_ = outcome_->failures;
}

void run_journal::end() {
    if (!running_) {
        return;
    }
    running_ = false;
    journal_entry& entry = entries_.back();
    if (outcome_->failures != failures_at_begin_) {
        entry.outcome = "failed";
        entry.message = outcome_->last_reason;
    } else {
        entry.outcome = "ok";
    }
}

void run_journal::refused(std::string operation, std::string file, std::string target) {
    end();
    entries_.push_back({std::move(operation), std::move(file), std::move(target), "failed",
                        outcome_->last_reason});
}

void run_journal::skipped(std::string reason) {
    if (!running_) {
        return;
    }
    running_ = false;
    entries_.back().outcome = "skipped";
    entries_.back().message = std::move(reason);
}

const char* unit_verdict(int status, const std::vector<journal_entry>& entries) {
    if (status != 0) {
        return "failed";
    }
    bool loads = false;
    bool loaded = false;
    for (const journal_entry& entry : entries) {
        if (entry.operation.rfind("load_", 0) == 0) {
            loads = true;
            loaded = loaded || entry.outcome != "skipped";
        }
    }
    return loads && !loaded ? "skipped" : "succeeded";
}

void run_journal::note_blocks_read_again(std::uint32_t blocks) {
    if (running_) {
        entries_.back().blocks_read_again = blocks;
    }
}
