// The operations of a command-line run, in the order performed, with how each ended: what the
// run's report lists. An operation fails when a failure was noted while it ran.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_types.h"

struct journal_entry {
    std::string operation;  // "connect", "load_fw", "get_prom", "verify", ...
    std::string file;       // the file loaded or compared, when there is one
    std::string target;     // "bank 2", "PA channel 3", ..., when there is one
    std::string outcome;    // "ok", "failed", "skipped", or "interrupted" while it runs
    std::string message;    // what made it fail
    // Blocks of a read (a get, a verify's read-back, the log) read again because the first
    // read did not match or two reads differed.
    std::uint32_t blocks_read_again = 0;
};

struct run_outcome;

// How a unit's run went, from its exit status and its operations: "failed" for any status but
// 0; "skipped" when it had loads to do and every one was skipped; else "succeeded".
const char* unit_verdict(int status, const std::vector<journal_entry>& entries);

class run_journal {
public:
    // The journal of the operations whose failures are noted in `outcome`.
    explicit run_journal(const run_outcome& outcome) : outcome_(&outcome) {}

    // An operation starts (the one running, if any, is ended first).
    void begin(std::string operation, std::string file = {}, std::string target = {});
    // The running operation has ended; nothing when none runs.
    void end();
    // An operation that was refused before it started: recorded as failed at once, with the
    // reason of the failure just noted.
    void refused(std::string operation, std::string file, std::string target);
    // The running operation ends without having done anything, for that reason (a load of an
    // image the unit already holds): "skipped".
    void skipped(std::string reason);
    // How many blocks the running operation, a read, has read again so far.
    void note_blocks_read_again(std::uint32_t blocks);

    bool running() const { return running_; }
    const std::vector<journal_entry>& entries() const { return entries_; }

private:
    const run_outcome* outcome_;
    std::vector<journal_entry> entries_;
    bool running_ = false;
    std::uint32_t failures_at_begin_ = 0;
};

