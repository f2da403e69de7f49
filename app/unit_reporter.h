// What a session tells about its unit as the run goes, to whoever listens: the run's events
// (/events) and, in a run over several units, the unit's line of the live view and its entry of
// the report. Each session has its own; it is used on that session's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/event_log.h"
#include "app/progress_meter.h"
#include "app/rack_board.h"
#include "app/run_journal.h"
#include "files/written_files.h"

class unit_reporter {
public:
    // `port` as events and lines name the unit ("COM3", "card"); `events` and `board` may be
    // null when nothing listens there; `index` is the unit's place on the board.
    unit_reporter(std::string port, event_log* events, rack_board* board = nullptr,
                  std::size_t index = 0);

    const std::string& port() const { return port_; }

    void waiting_for_port(unsigned seconds);
    void opening();
    void connected(std::uint8_t bank);
    void operation_started(const journal_entry& entry);
    void operation_ended(const journal_entry& entry);
    // A fresh view of the running transfer (at most ten a second).
    void progress(const progress_view& view);
    void transfer_ended();
    void file_written(const written_file& file);
    // The unit's run is over: its status, and "succeeded", "skipped" or "failed" with what
    // failed.
    void unit_ended(int status, const std::string& verdict, const std::string& message);
    // A run of this one unit is over, with that exit status.
    void run_ended(int status);
    // The unit's entry of a report over several units, as it stands now.
    void report_changed(report_json entry);

private:
    void show(std::string text);
    void event(const char* kind, event_json fields);

    std::string port_;
    event_log* events_;
    rack_board* board_;
    std::size_t index_;
    std::string operation_;       // the operation running, as events name it
    std::string operation_text_;  // and as the live view shows it
    std::string verdict_;         // once the unit's run is over
};

// How the live view and the summary name an operation: "load_fw demo.bin, bank 2".
std::string operation_text(const journal_entry& entry);
