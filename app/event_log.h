// The run's events for scripts and graphical front ends (/events): one JSON object per line,
// each with the time it happened ("time", UTC to the millisecond) and its kind ("event"),
// written and flushed line by line, from any unit's thread.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

using event_json = nlohmann::ordered_json;

class event_log {
public:
    // The events' destination: "-" for standard output, else the file, which is created or,
    // when it exists, added to (a file of events keeps the runs before; a FIFO a front end
    // reads from works as well). Nothing, with the system's reason, when it cannot be opened.
    static std::unique_ptr<event_log> open(const std::string& target, std::string& error);

    ~event_log();
    event_log(const event_log&) = delete;
    event_log& operator=(const event_log&) = delete;

    // Writes the event of that kind with its fields, after its time and kind.
    void write(const char* kind, const event_json& fields);

private:
    event_log(std::FILE* file, bool owned) : file_(file), owned_(owned) {}

    std::mutex mutex_;
    std::FILE* file_;
    bool owned_;
};

// The time as events give it: "2026-12-09T05:40:01.123Z".
std::string event_time_text(std::int64_t milliseconds_since_1970);
