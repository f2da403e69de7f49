// The report of a command-line run for scripts: a JSON document with the program's version, the
// link, the bank table as the unit last reported it, each operation with its outcome, each file
// written, and the exit status. Written under a temporary name and then renamed, so that a
// reader never sees half of it; prepared beforehand for a run that a signal or an error ends.
#pragma once

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

// The document of a unit's run, with the exit status given, or null for none yet.
std::string render_report(const report_link& link, const unit& u, const run_journal& journal,
                          std::optional<int> exit_status);

// Writes the text to `path` under a temporary name, then renames it; the reason when it fails.
std::optional<std::string> write_report(const std::string& path, const std::string& text);

// Renders and writes the report with the exit status; on any failure (the system's refusal, no
// memory) prints "Report FILE could not be written: reason" and returns false. Never throws:
// a report must not end the run it reports.
bool write_run_report(const std::string& path, const report_link& link, const unit& u,
                      const run_journal& journal, int exit_status);

// Keeps the report ready to be written if the run ends before write_report: the same document
// with the status the process then ends with.
void prepare_report_on_exit(const std::string& path, const report_link& link, const unit& u,
                            const run_journal& journal);

// What the run reads and opens, which its report must never take the place of.
struct report_neighbours {
    // The files to load, each with the option that names it ("/load_fw", "keep.bin").
    std::vector<std::pair<std::string, std::string>> loads;
    std::string port_name;    // the serial port as the user named it ("COM3"); empty for none
    std::string port_device;  // the device opened for it ("./COM3", "/dev/ttyS2", "\\.\COM3")
};

// The reason a report cannot be written to `path`, checked at start so that a long run is not
// done for a report that cannot be written, and so that the report never replaces what is not
// a file of its own: the folder must exist; the name must not stand for a folder, a device, a
// FIFO or a socket (renaming over one would put a plain file in its place), nor for a file
// this run loads or the serial port it opens.
std::optional<std::string> check_report_path(const std::string& path,
                                             const report_neighbours& neighbours = {});
