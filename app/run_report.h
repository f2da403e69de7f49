// The report of a command-line run for scripts: a JSON document with the program's version, the
// link, the bank table as the unit last reported it, each operation with its outcome, each file
// written, and the exit status. Written under a temporary name and then renamed, so that a
// reader never sees half of it; prepared beforehand for a run that a signal or an error ends.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/run_journal.h"

// The link of the run, as the report names it.
struct report_link {
    bool serial = false;
    std::string port;    // serial: the port as the user named it ("COM3", "/dev/ttyUSB0")
    int board_type = 0;  // card: 2, 5 or 6
};

struct unit;

using report_json = nlohmann::ordered_json;

// A CRC-32 or an address as the report and the events write it: "0x0B2BA935".
std::string hex32(std::uint32_t value);

// One unit's part of a report: its link, the bank table, the operations and the files written.
report_json unit_report(const report_link& link, const unit& u, const run_journal& journal);

// A unit's entry of a report over several units: its port, the bank it ran when it connected
// (null when it never did), its part as unit_report gives it, then its status and verdict
// (null while its run goes on).
report_json rack_entry(const std::string& port, const report_link& link, const unit& u,
                       const run_journal& journal, std::optional<std::uint8_t> connected_bank,
                       std::optional<int> status);

// The document of a unit's run, with the exit status given, or null for none yet.
std::string render_report(const report_link& link, const unit& u, const run_journal& journal,
                          std::optional<int> exit_status);

// The document of a run over several units: the program, then one entry per unit (as the run
// makes them from unit_report), then the run's exit status or null.
std::string render_rack_report(const std::vector<report_json>& units,
                               std::optional<int> exit_status);

// Writes the text to `path` under a temporary name, then renames it; the reason when it fails.
std::optional<std::string> write_report(const std::string& path, const std::string& text);

// Renders and writes the report with the exit status; on any failure (the system's refusal, no
// memory) prints "Report FILE could not be written: reason" and returns false. Never throws:
// a report must not end the run it reports.
bool write_run_report(const std::string& path, const report_link& link, const unit& u,
                      const run_journal& journal, int exit_status);

// The same for a run over several units.
bool write_rack_report(const std::string& path, const std::vector<report_json>& units,
                       int exit_status);

// Keeps the report ready to be written if the run ends before write_report: the same document
// with the status the process then ends with. Calls come from one thread at a time.
void prepare_report_on_exit(const std::string& path, const report_link& link, const unit& u,
                            const run_journal& journal);
void prepare_rack_report_on_exit(const std::string& path, const std::vector<report_json>& units);

// What the run reads and opens, which its report must never take the place of.
struct report_neighbours {
    // The files to load, each with the option that names it ("/load_fw", "keep.bin").
    std::vector<std::pair<std::string, std::string>> loads;
    // The serial ports as the user named them ("COM3"), each with the device opened for it
    // ("./COM3", "/dev/ttyS2", "\\.\COM3").
    std::vector<std::pair<std::string, std::string>> ports;
};

// The reason a report cannot be written to `path`, checked at start so that a long run is not
// done for a report that cannot be written, and so that the report never replaces what is not
// a file of its own: the folder must exist; the name must not stand for a folder, a device, a
// FIFO or a socket (renaming over one would put a plain file in its place), nor for a file
// this run loads or the serial port it opens.
std::optional<std::string> check_report_path(const std::string& path,
                                             const report_neighbours& neighbours = {});

// The same for the file of the run's events (/events), which may also be a device or a FIFO
// that a front end reads from, but not the run's report.
std::optional<std::string> check_events_path(const std::string& path,
                                             const report_neighbours& neighbours,
                                             const std::string& report_path);
