#include "app/rack_run.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "app/event_log.h"
#include "app/port_choice.h"
#include "app/port_open.h"
#include "app/rack_board.h"
#include "app/run_report.h"
#include "app/session.h"
#include "app/startup.h"
#include "app/unit_reporter.h"
#include "app/version.h"
#include "files/output_files.h"
#include "files/timestamp.h"
#include "link/comm_error.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/serial_device.h"
#include "platform/thread.h"
#include "platform/visible_text.h"
#include "protocol/run_outcome.h"
#include "protocol/unit.h"

namespace {

constexpr std::uint32_t view_refresh_ms = 100;
constexpr std::uint32_t unit_receiver_stop_ms = 100;
// The longest a unit's receiver is then waited for before it is left to the end of the process.
constexpr std::uint32_t unit_receiver_last_wait_ms = 2000;
// Without a known size the view keeps within the usual console.
constexpr std::size_t view_default_columns = 80;
constexpr std::size_t view_default_rows = 25;

// What the whole run shares with every unit's thread, read only.
struct run_plan {
    const option_table& options;
    const std::string& user_name;
    std::string run_folder;  // made by the run when it fetches files; empty otherwise
    std::uint32_t wait_seconds = 0;
};

// One unit: set up by the main thread, then its own thread's until that thread has ended; the
// main thread reads what it left only after joining it.
struct unit_slot {
    std::string port;
    std::string folder;
    std::unique_ptr<unit_reporter> reporter;
    os_thread thread;
    bool running = false;
    // What the unit's run came to.
    int status = exit_operation_failed;
    std::string verdict = "failed";
    std::string message;
    report_json entry;
    // The unit's receiver did not end (a port whose read does not return): it still uses the
    // unit's link and session, which are kept for it, and the run ends without destroying what
    // it may still use.
    bool receiver_left_running = false;
};

// What a unit's receiver uses while it runs: the unit's options, link and session, kept
// together so that a receiver that does not end can be left all of it.
struct unit_parts {
    explicit unit_parts(const option_table& run_options) : options(run_options) {}
    option_table options;  // the unit's own copy
    serial_unit_link link;
    std::unique_ptr<session> loop;
};

bool fetches_files(const option_table& options) {
    for (const option_index get : {opt_get_sw, opt_get_fw, opt_get_log, opt_get_prom}) {
        if (options[get].given && options[get].value.b) {
            return true;
        }
    }
    return false;
}

// The end of a unit that never got to its operations (its port, its receiver): the failure said,
// its entry made with the connection failed.
void end_before_start(unit_slot& slot, unit_link& link, const report_link& report,
                      const result& failure, int status) {
    out_write(failure.message + "\n");
    unit never_connected(link);
    run_journal journal(never_connected.outcome);
    journal.begin("connect");
    note_operation_failed(never_connected, failure.message);
    journal.end();
    slot.reporter->operation_started(journal.entries().back());
    slot.reporter->operation_ended(journal.entries().back());
    slot.status = status;
    slot.verdict = "failed";
    slot.message = failure.message;
    slot.entry = rack_entry(slot.port, report, never_connected, journal, std::nullopt, status);
    slot.reporter->report_changed(slot.entry);
    slot.reporter->unit_ended(slot.status, slot.verdict, slot.message);
}

// The whole run of one unit, on its own thread.
void serve_unit(unit_slot& slot, const run_plan& plan) {
    out_set_thread_prefix("[" + visible_text(slot.port) + "] ");
    auto parts = std::make_unique<unit_parts>(plan.options);
    option_table& options = parts->options;
    serial_unit_link& link = parts->link;
    const report_link report{true, slot.port, 0};
    slot.reporter->opening();
    const std::string& port = slot.port;
    const result opened = open_serial_waiting(
        link, port, [&port] { return serial_device_path(port); }, plan.wait_seconds,
        slot.reporter.get());
    if (!opened) {
        end_before_start(slot, link, report, opened, comm_error_exit_status);
        return;
    }
    session_settings settings;
    settings.one_of_several = true;
    settings.run_folder = plan.run_folder;
    settings.unit_folder = plan.run_folder.empty() ? std::string() : slot.folder;
    settings.reporter = slot.reporter.get();
    if (plan.wait_seconds != 0) {
        // A port that fails during the run is waited for as long, and the unit goes on.
        settings.reopen_link = [&link, &port, wait = plan.wait_seconds,
                                told = slot.reporter.get()](link_listener& listener) {
            return reopen_serial_waiting(
                link, port, [&port] { return serial_device_path(port); }, wait, listener, told);
        };
    }
    parts->loop = std::make_unique<session>(options, link, report, settings);
    session& loop = *parts->loop;
    if (const result started = link.start(loop.loader().inbox); !started) {
        end_before_start(slot, link, report, started, exit_receiver_failed);
        return;
    }
    loop.start(plan.user_name, options[opt_verbose].value.u & 0xFFu, options[opt_safemode].value.b,
               options[opt_bank0].value.b);
    while (loop.pass()) {
    }
    loop.finish();
    loop.close_journal();
    slot.status = loop.exit_status();
    slot.verdict = unit_verdict(slot.status, loop.journal().entries());
    if (loop.link_ended()) {
        slot.message = loop.link_ended()->message;
    } else if (slot.status != 0) {
        slot.message = last_failure_reason(loop.loader());
    } else if (slot.verdict == "skipped") {
        for (const journal_entry& entry : loop.journal().entries()) {
            if (entry.outcome == "skipped") {
                slot.message = entry.message;  // the first: why nothing was loaded
                break;
            }
        }
    }
    slot.entry = rack_entry(port, report, loop.loader(), loop.journal(), loop.connected_bank(),
                            slot.status);
    slot.reporter->report_changed(slot.entry);
    slot.reporter->unit_ended(slot.status, slot.verdict, slot.message);
    if (!link.stop(unit_receiver_stop_ms) && !link.stop(unit_receiver_last_wait_ms)) {
        // A receiver that does not end (a port whose read does not return) is left to the end
        // of the process, with the link and the session's inbox it uses.
        slot.receiver_left_running = true;
        static_cast<void>(parts.release());
    }
}

// The live view: a line per unit, as many as the terminal has room for.
void draw_view(const std::vector<unit_slot>& slots, const std::vector<live_entry>& lines) {
    std::size_t columns = out_terminal_columns();
    std::size_t rows = out_terminal_rows();
    columns = columns == 0 ? view_default_columns : columns;
    rows = rows == 0 ? view_default_rows : rows;
    // Room above the view for the lines the units print, and one column short of the width: a
    // line that reaches the last column wraps on a console.
    const std::size_t room = rows > 4 ? rows - 3 : 1;
    std::vector<std::string> shown;
    for (std::size_t k = 0; k < slots.size() && k < lines.size(); ++k) {
        if (shown.size() + 1 == room && slots.size() > room) {
            shown.push_back("... and " + std::to_string(slots.size() - k) + " more units");
            break;
        }
        shown.push_back(live_line(slots[k].port, lines[k], columns - 1));
    }
    out_status_block(shown);
}

}  // namespace

std::string summary_text(const std::vector<unit_summary>& units) {
    std::size_t counts[3] = {0, 0, 0};
    const char* verdicts[3] = {"succeeded", "skipped", "failed"};
    std::string lines[3];
    for (const unit_summary& unit : units) {
        for (std::size_t v = 0; v < 3; ++v) {
            if (unit.verdict == verdicts[v]) {
                ++counts[v];
                std::string verdict = verdicts[v];
                verdict.resize(9, ' ');
                lines[v] += "  " + verdict + "  " + visible_text(unit.port);
                if (!unit.message.empty()) {
                    lines[v] += ": " + visible_text(unit.message);
                }
                lines[v] += "\n";
            }
        }
    }
    std::string text = "\n" + std::to_string(units.size()) + " units: " +
                       std::to_string(counts[0]) + " succeeded, " + std::to_string(counts[1]) +
                       " skipped, " + std::to_string(counts[2]) + " failed\n";
    return text + lines[0] + lines[1] + lines[2];
}

int run_several_units(const option_table& options, const std::vector<std::string>& ports,
                      const std::string& user_name, event_log* events) {
    const std::string report_path =
        options[opt_report].given ? options[opt_report].value.text.value_or(std::string()) : "";
    run_plan plan{options, user_name, {}, options[opt_wait_port].value.u};
    if (fetches_files(options)) {
        // One folder for the run, with a folder of its own for each unit in it.
        os_error error;
        const std::string wanted = make_timestamp();
        const std::optional<std::string> made = make_new_folder(wanted, error);
        if (!made) {
            out_printf("Could not create the folder %s: %s\n", wanted.c_str(), error.text.c_str());
            return exit_operation_failed;
        }
        plan.run_folder = *made;
    }
    if (events != nullptr) {
        event_json names = event_json::array();
        for (const std::string& port : ports) {
            names.push_back(utf8_text(port));
        }
        events->write("run_start", {{"program", "Kestrel"}, {"version", kestrel_version},
                                    {"ports", names}, {"folder", utf8_text(plan.run_folder)}});
    }

    rack_board board(ports.size(), report_path);
    std::vector<unit_slot> slots(ports.size());
    for (std::size_t k = 0; k < ports.size(); ++k) {
        unit_slot& slot = slots[k];
        slot.port = ports[k];
        // Two ports whose names end alike still get folders of their own.
        slot.folder = unit_folder_name(ports[k]);
        for (std::size_t j = 0, n = 2; j < k; ++j) {
            if (slots[j].folder == slot.folder) {
                slot.folder = unit_folder_name(ports[k]) + "_" + std::to_string(n++);
                j = static_cast<std::size_t>(-1);  // look again from the first
            }
        }
        slot.reporter = std::make_unique<unit_reporter>(ports[k], events, &board, k);
        slot.reporter->opening();
    }
    for (unit_slot& slot : slots) {
        os_error error;
        slot.running = slot.thread.start(
            [&slot, &plan] {
                serve_unit(slot, plan);
                return 0;
            },
            error);
        if (!slot.running) {
            slot.message = "The unit's thread cannot be started: " + error.text;
            out_printf("[%s] %s\n", visible_text(slot.port).c_str(), slot.message.c_str());
            slot.status = exit_receiver_failed;
        }
    }

    const bool live = out_is_terminal();
    for (;;) {
        bool all_ended = true;
        for (unit_slot& slot : slots) {
            if (slot.running && slot.thread.wait(0)) {
                slot.running = false;
            }
            all_ended = all_ended && !slot.running;
        }
        if (live) {
            if (const std::optional<std::vector<live_entry>> lines = board.take_changed_lines()) {
                draw_view(slots, *lines);
            }
        }
        if (all_ended) {
            break;
        }
        sleep_ms(view_refresh_ms);
    }
    if (live) {
        out_status_block({});
    }

    int status = 0;
    std::vector<unit_summary> summary;
    std::vector<report_json> entries;
    for (unit_slot& slot : slots) {
        if (status == 0 && slot.status != 0) {
            status = slot.status;
        }
        summary.push_back({slot.port, slot.verdict, slot.message});
        entries.push_back(slot.entry.is_null() ? report_json::object({{"port", utf8_text(slot.port)}})
                                               : slot.entry);
    }
    out_write(summary_text(summary));
    if (!report_path.empty()) {
        if (!write_rack_report(report_path, entries, status)) {
            status = status == 0 ? exit_operation_failed : status;
        }
    }
    if (!plan.run_folder.empty()) {
        // Folders of units that wrote nothing, and the run's when none did, are not left.
        for (const unit_slot& slot : slots) {
            remove_empty_folder(output_path(plan.run_folder, slot.folder));
        }
        remove_empty_folder(plan.run_folder);
    }
    if (events != nullptr) {
        std::size_t counts[3] = {0, 0, 0};
        for (const unit_summary& unit : summary) {
            counts[unit.verdict == "succeeded" ? 0 : unit.verdict == "skipped" ? 1 : 2]++;
        }
        events->write("run_end", {{"status", status},
                                  {"succeeded", counts[0]},
                                  {"skipped", counts[1]},
                                  {"failed", counts[2]}});
    }
    for (const unit_slot& slot : slots) {
        if (slot.receiver_left_running) {
            // Static objects are not destroyed under the feet of a receiver still running.
            process_exit_now(status);
        }
    }
    return status;
}
