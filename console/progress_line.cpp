#include "console/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/visible_text.h"

namespace {

constexpr const char* unknown = "--";
constexpr std::string_view ellipsis = "...";
// A name shortened below this many characters no longer says which file it is.
constexpr std::size_t shortest_name = 8;

const char* operation_word(transfer_kind kind) {
    switch (kind) {
    case transfer_kind::download:
        return "Download";
    case transfer_kind::upload:
        return "Upload";
    case transfer_kind::verify:
        return "Verify";
    case transfer_kind::log:
        return "Log";
    }
    return "";
}

std::string kibibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1024.0);
    return text;
}

// "waiting for the unit 14 s, asked again 2 times"
std::string silence_text(const unit_silence& silence) {
    std::string text = "waiting for the unit " + std::to_string(silence.seconds) + " s";
    if (silence.asked_again > 0) {
        text += ", asked again " + std::to_string(silence.asked_again) +
                (silence.asked_again == 1 ? " time" : " times");
    }
    return text;
}

// Everything after the name.
std::string figures(const transfer_progress& t, std::optional<double> rate,
                    const std::optional<unit_silence>& silence) {
    const bool total_known = t.total != 0;
    const bool rate_known = rate.has_value() && *rate > 0.0;
    std::string percent = " --";
    if (total_known) {
        // Rounded, but never 100 before the last byte.
        std::uint64_t whole = (t.done * 200 / t.total + 1) / 2;
        if (t.done < t.total) {
            whole = std::min<std::uint64_t>(whole, 99);
        } else {
            whole = 100;
        }
        percent = std::to_string(whole);
        percent.insert(0, 3 - std::min<std::size_t>(3, percent.size()), ' ');
    }
    if (silence) {
        // The sizes give way to the wait, so that the line fits the usual 80 columns.
        return "  " + percent + "%   " + silence_text(*silence);
    }
    std::string text = "  " + percent + "%   " + kibibytes(t.done) + "/" +
                       (total_known ? kibibytes(t.total) : unknown) + " KiB   ";
    if (rate_known) {
        char value[32];
        std::snprintf(value, sizeof value, "%.1f", *rate / 1024.0);
        text += value;
    } else {
        text += unknown;
    }
    text += " KiB/s   ";
    if (total_known && rate_known) {
        const double left = static_cast<double>(t.total - std::min(t.done, t.total)) / *rate;
        text += duration_text(static_cast<std::uint64_t>(std::ceil(left)));
    } else {
        text += "-:--";
    }
    return text + " left";
}

std::string shortened(const std::string& name, std::size_t room) {
    if (name.size() <= room) {
        return name;
    }
    const std::size_t kept = room - ellipsis.size();
    const std::size_t head = kept / 2;
    return name.substr(0, head) + std::string(ellipsis) + name.substr(name.size() - (kept - head));
}

}  // namespace

std::string duration_text(std::uint64_t seconds) {
    char text[48];
    const unsigned long long s = seconds;
    if (s < 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    }
    return text;
}

std::string progress_line(const transfer_progress& transfer,
                          std::optional<double> bytes_per_second, std::size_t width,
                          std::optional<unit_silence> silence) {
    const std::string head = std::string("  ") + operation_word(transfer.kind) + " ";
    const std::string tail = figures(transfer, bytes_per_second, silence);
    const std::size_t fixed = head.size() + tail.size();
    std::string name = visible_text(transfer.name);
    if (fixed + name.size() > width && width >= fixed + shortest_name) {
        name = shortened(name, width - fixed);
    }
    std::string line = head + name + tail;
    if (line.size() > width) {
        line.resize(width);  // a very narrow terminal: what fits
    }
    return line;
}
