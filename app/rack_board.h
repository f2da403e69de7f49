// What the units of a run over several ports post for the others to see, each from its own
// thread: the line of the live view that tells how the unit is doing, and its entry of the
// run's report. The main thread takes the lines to draw them; the report entries are kept
// ready to be written should the run end early, and read once every unit has ended.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_meter.h"
#include "app/run_report.h"

// One unit's line: a text, or while a transfer runs its progress.
struct live_entry {
    std::string text;
    std::optional<progress_view> progress;
};

class rack_board {
public:
    // A line and an entry per unit; `report_path` is the report to keep ready (none if empty).
    rack_board(std::size_t units, std::string report_path);

    void set_line(std::size_t unit, live_entry entry);
    // The lines, when any has changed since the last take.
    std::optional<std::vector<live_entry>> take_changed_lines();

    void set_report_entry(std::size_t unit, report_json entry);
    std::vector<report_json> report_entries() const;

private:
    mutable std::mutex mutex_;
    std::vector<live_entry> lines_;
    bool changed_ = true;
    std::vector<report_json> entries_;
    std::string report_path_;
};

// The line shown for a unit: its port in brackets, then its text or progress, at most `width`
// characters.
std::string live_line(const std::string& port, const live_entry& entry, std::size_t width);
