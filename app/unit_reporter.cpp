#include "app/unit_reporter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/run_report.h"
#include "platform/visible_text.h"

namespace {

const char* transfer_word(transfer_kind kind) {
    switch (kind) {
    case transfer_kind::download:
        return "download";
    case transfer_kind::upload:
        return "upload";
    case transfer_kind::verify:
        return "verify";
    case transfer_kind::log:
        return "log";
    }
    return "";
}

}  // namespace

std::string operation_text(const journal_entry& entry) {
    std::string text = entry.operation;
    if (!entry.file.empty()) {
        text += " " + entry.file;
    }
    if (!entry.target.empty()) {
        text += (entry.file.empty() ? " " : ", ") + entry.target;
    }
    return text;
}

unit_reporter::unit_reporter(std::string port, event_log* events, rack_board* board,
                             std::size_t index)
    : port_(std::move(port)), events_(events), board_(board), index_(index) {}

void unit_reporter::show(std::string text) {
    if (board_ != nullptr) {
        board_->set_line(index_, live_entry{std::move(text), std::nullopt});
    }
}

void unit_reporter::event(const char* kind, event_json fields) {
    if (events_ != nullptr) {
        event_json all;
        all["port"] = utf8_text(port_);
        all.update(fields);
        events_->write(kind, all);
    }
}

void unit_reporter::waiting_for_port(unsigned seconds) {
    show("waiting up to " + std::to_string(seconds) + " s for the port to appear");
    event("port_wait", {{"seconds", seconds}});
}

void unit_reporter::opening() { show("connecting"); }

void unit_reporter::connected(std::uint8_t bank) {
    show("connected, running bank " + std::to_string(bank));
    event("unit_connected", {{"bank", bank}});
}

void unit_reporter::operation_started(const journal_entry& entry) {
    operation_ = entry.operation;
    operation_text_ = operation_text(entry);
    show(operation_text_);
    event_json fields{{"operation", utf8_text(entry.operation)}};
    if (!entry.file.empty()) {
        fields["file"] = utf8_text(entry.file);
    }
    if (!entry.target.empty()) {
        fields["target"] = utf8_text(entry.target);
    }
    event("operation_start", std::move(fields));
}

void unit_reporter::operation_ended(const journal_entry& entry) {
    std::string text = operation_text(entry) + ": " + entry.outcome;
    if (!entry.message.empty()) {
        text += " (" + entry.message + ")";
    }
    show(std::move(text));
    event_json fields{{"operation", utf8_text(entry.operation)},
                      {"outcome", utf8_text(entry.outcome)}};
    if (!entry.message.empty()) {
        fields["message"] = utf8_text(entry.message);
    }
    if (entry.blocks_read_again != 0) {
        fields["blocks_read_again"] = entry.blocks_read_again;
    }
    event("operation_end", std::move(fields));
}

void unit_reporter::progress(const progress_view& view) {
    if (board_ != nullptr) {
        board_->set_line(index_, live_entry{operation_text_, view});
    }
    if (events_ == nullptr) {
        return;
    }
    const transfer_progress& t = view.transfer;
    event_json fields{{"operation", utf8_text(operation_)},
                      {"transfer", transfer_word(t.kind)},
                      {"file", utf8_text(t.name)},
                      {"done", t.done},
                      {"total", t.total}};
    fields["percent"] = t.total != 0 ? event_json(t.done * 100 / t.total) : event_json(nullptr);
    fields["bytes_per_second"] =
        view.rate ? event_json(static_cast<std::uint64_t>(std::llround(*view.rate)))
                  : event_json(nullptr);
    if (view.rate && *view.rate > 0.0 && t.total != 0) {
        fields["seconds_left"] = static_cast<std::uint64_t>(
            std::ceil(static_cast<double>(t.total - std::min(t.done, t.total)) / *view.rate));
    } else {
        fields["seconds_left"] = nullptr;
    }
    if (view.silence) {
        fields["silent_seconds"] = view.silence->seconds;
        fields["asked_again"] = view.silence->asked_again;
    }
    event("progress", std::move(fields));
}

void unit_reporter::transfer_ended() { show(operation_text_); }

void unit_reporter::file_written(const written_file& file) {
    event("file_written",
          {{"path", utf8_text(file.path)}, {"size", file.size}, {"crc32", hex32(file.crc32)}});
}

void unit_reporter::unit_ended(int status, const std::string& verdict, const std::string& message) {
    verdict_ = verdict;
    show(message.empty() ? verdict : verdict + ": " + message);
    event_json fields{{"status", status}, {"verdict", verdict}};
    if (!message.empty()) {
        fields["message"] = utf8_text(message);
    }
    event("unit_end", std::move(fields));
}

void unit_reporter::run_ended(int status) {
    if (events_ != nullptr) {
        const std::string verdict = verdict_.empty() ? "failed" : verdict_;
        events_->write("run_end", {{"status", status},
                                   {"succeeded", verdict == "succeeded" ? 1 : 0},
                                   {"skipped", verdict == "skipped" ? 1 : 0},
                                   {"failed", verdict == "failed" ? 1 : 0}});
    }
}

void unit_reporter::report_changed(report_json entry) {
    if (board_ != nullptr) {
        board_->set_report_entry(index_, std::move(entry));
    }
}
