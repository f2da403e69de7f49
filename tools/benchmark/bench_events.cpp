#include "tools/benchmark/bench_events.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

// Digits at text[from, from + count) as a number; nothing if any is not a digit.
std::optional<int> digits_at(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2026-12-09T05:40:01.123Z" (fraction of 1 to 9 digits, or none) in ms since the epoch.
std::optional<std::int64_t> parse_utc_ms(const std::string& text) {
    const auto year = digits_at(text, 0, 4);
    const auto month = digits_at(text, 5, 2);
    const auto day = digits_at(text, 8, 2);
    const auto hour = digits_at(text, 11, 2);
    const auto minute = digits_at(text, 14, 2);
    const auto second = digits_at(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' || *hour > 23 ||
        *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{*year},
                                           std::chrono::month{static_cast<unsigned>(*month)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    std::size_t at = 19;
    double fraction_ms = 0.0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        double scale = 100.0;
        const std::size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 9) {
            fraction_ms += (text[at] - '0') * scale;
            scale /= 10.0;
            ++at;
        }
        if (at == first) {
            return std::nullopt;
        }
    }
    if (at + 1 != text.size() || text[at] != 'Z') {
        return std::nullopt;
    }
    const std::int64_t days =
        std::chrono::sys_days{date}.time_since_epoch().count();
    const std::int64_t seconds = days * 86400 + *hour * 3600 + *minute * 60 + *second;
    return seconds * 1000 + static_cast<std::int64_t>(fraction_ms);
}

std::string string_of(const json& o, const char* name) {
    const auto found = o.find(name);
    return found != o.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<double> number_of(const json& o, const char* name) {
    const auto found = o.find(name);
    return found != o.end() && found->is_number() ? std::optional<double>(found->get<double>())
                                                  : std::nullopt;
}

}  // namespace

std::optional<run_event> parse_event_line(const std::string& line) {
    const json o = json::parse(line, nullptr, false);
    if (!o.is_object()) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> time = parse_utc_ms(string_of(o, "time"));
    run_event e;
    e.event = string_of(o, "event");
    if (!time || e.event.empty()) {
        return std::nullopt;
    }
    e.time_ms = *time;
    e.port = string_of(o, "port");
    e.operation = string_of(o, "operation");
    e.transfer = string_of(o, "transfer");
    e.outcome = string_of(o, "outcome");
    e.message = string_of(o, "message");
    e.verdict = string_of(o, "verdict");
    e.done = number_of(o, "done");
    e.total = number_of(o, "total");
    e.status = number_of(o, "status");
    e.succeeded = number_of(o, "succeeded");
    e.skipped = number_of(o, "skipped");
    e.failed = number_of(o, "failed");
    return e;
}

event_file read_events(const std::filesystem::path& path) {
    event_file file;
    std::ifstream in(path);
    if (!in) {
        return file;
    }
    file.opened = true;
    std::string line;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line == "\r") {
            continue;
        }
        if (std::optional<run_event> e = parse_event_line(line)) {
            file.events.push_back(std::move(*e));
        } else {
            file.bad_lines.push_back(number);
        }
    }
    return file;
}
