// Reads the program's events file (/events FILE): one JSON object a line. Only what the
// benchmark looks at is kept of each event; fields it does not know are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct run_event {
    std::int64_t time_ms = 0;  // "time", milliseconds since 1970-01-01 00:00 UTC
    std::string event;         // "run_start", "progress", "operation_end", ...
    std::string port;
    std::string operation;     // "connect", "load_fw", "verify", ...
    std::string transfer;      // of a progress event: "download", "verify", ...
    std::string outcome;       // of operation_end: "ok" or what went wrong
    std::string message;       // of operation_end, when there is one
    std::string verdict;       // of unit_end
    std::optional<double> done;    // of progress: bytes moved so far
    std::optional<double> total;   // of progress: bytes in all, 0 while not known
    std::optional<double> status;  // of unit_end and run_end
    std::optional<double> succeeded, skipped, failed;  // of run_end
};

struct event_file {
    bool opened = false;
    std::vector<run_event> events;  // in the order of the file
    std::vector<std::size_t> bad_lines;  // 1-based numbers of lines that are not an event
};

// One line of the file; nothing if it is not a JSON object with a "time" of the form
// 2026-12-09T05:40:01.123Z and an "event".
std::optional<run_event> parse_event_line(const std::string& line);

event_file read_events(const std::filesystem::path& path);
