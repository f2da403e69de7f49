#include "app/run_journal.h"

#include <utility>

#include "files/file_types.h"
#include "protocol/run_outcome.h"

namespace {

constexpr const char* interrupted = "interrupted";

}  // namespace

void run_journal::begin(std::string operation, std::string file, std::string target) {
    end();
    entries_.push_back({std::move(operation), std::move(file), std::move(target), interrupted, {}});
    running_ = true;
    failures_at_begin_ = failures_noted();
}

void run_journal::end() {
    if (!running_) {
        return;
    }
    running_ = false;
    journal_entry& entry = entries_.back();
    if (failures_noted() != failures_at_begin_) {
        entry.outcome = "failed";
        entry.message = last_failure_reason();
    } else {
        entry.outcome = "ok";
    }
}

void run_journal::refused(std::string operation, std::string file, std::string target) {
    end();
    entries_.push_back({std::move(operation), std::move(file), std::move(target), "failed",
                        last_failure_reason()});
}
