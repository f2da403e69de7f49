#include "app/rack_board.h"

#include <utility>

#include "console/progress_line.h"
#include "platform/visible_text.h"

rack_board::rack_board(std::size_t units, std::string report_path)
    : lines_(units), entries_(units, report_json::object()), report_path_(std::move(report_path)) {}

void rack_board::set_line(std::size_t unit, live_entry entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (unit < lines_.size()) {
        lines_[unit] = std::move(entry);
        changed_ = true;
    }
}

std::optional<std::vector<live_entry>> rack_board::take_changed_lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!changed_) {
        return std::nullopt;
    }
    changed_ = false;
    return lines_;
}

void rack_board::set_report_entry(std::size_t unit, report_json entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (unit >= entries_.size()) {
        return;
    }
    entries_[unit] = std::move(entry);
    if (!report_path_.empty()) {
        // Under the lock: the prepared report is replaced by one thread at a time.
        prepare_rack_report_on_exit(report_path_, entries_);
    }
}

std::vector<report_json> rack_board::report_entries() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::string live_line(const std::string& port, const live_entry& entry, std::size_t width) {
    std::string line = "[" + visible_text(port) + "] ";
    if (entry.progress) {
        const std::size_t room = width > line.size() ? width - line.size() : 0;
        // The progress line starts with two blanks of its own.
        std::string progress =
            progress_line(entry.progress->transfer, entry.progress->rate, room + 2,
                          entry.progress->silence);
        line += progress.substr(progress.find_first_not_of(' ') == std::string::npos
                                    ? progress.size()
                                    : progress.find_first_not_of(' '));
    } else {
        line += visible_text(entry.text);
    }
    if (line.size() > width) {
        line.resize(width);
    }
    return line;
}
