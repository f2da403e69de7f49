#include "tools/benchmark/bench_units.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/benchmark/bench_events.h"
#include "tools/benchmark/bench_files.h"
#include "tools/benchmark/bench_kinds.h"
#include "tools/benchmark/bench_process.h"
#include "tools/benchmark/bench_progress.h"
#include "tools/benchmark/bench_timing.h"
#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_unit.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned units_first_port = 3;
constexpr const char* units_image_name = "bench.bin";
constexpr std::uint64_t units_image_seed = 0x756e697473;
constexpr int units_bank = 2;
constexpr int units_fpga_type = 1;  // /load_fw stores the bank's FPGA image
// The figures' goals; they are printed beside the figures, never enforced.
constexpr double goal_wall_ratio = 1.1;
constexpr double goal_fraction = 0.97;
constexpr double goal_cpu_percent = 10.0;

std::string com_name(unsigned port) { return "COM" + std::to_string(port); }

// One unit's transfers: the rates the program's progress events show and the line's bound
// (with the transfer time) from what the unit received.
struct unit_figures {
    std::string port;
    std::optional<progress_rate> download;
    std::optional<progress_rate> verify;
    std::optional<transfer_figures> download_line;
    std::optional<transfer_figures> verify_line;
};

struct units_run {
    child_run child;
    double units_cpu = 0.0;  // this process, in which the simulated units run
    std::vector<unit_figures> units;
};

// Fresh units on COM3 onwards, each with its link in `folder` and factory images of its own,
// paced at 115200 baud.
std::vector<std::unique_ptr<sim_unit>> start_units(const fs::path& folder, unsigned count) {
    std::vector<std::unique_ptr<sim_unit>> units;
    for (unsigned i = 0; i < count; ++i) {
        sim_unit_options o;
        o.link_dir = folder;
        o.port = units_first_port + i;
        o.pacing = true;
        o.seed = 1 + o.port;
        o.image_variant = o.port;
        units.push_back(std::make_unique<sim_unit>(o));
        units.back()->start();
    }
    return units;
}

const run_event* find_event(const std::vector<run_event>& events, const std::string& event,
                            const std::string& port, const std::string& operation) {
    for (const run_event& e : events) {
        if (e.event == event && e.port == port && e.operation == operation) {
            return &e;
        }
    }
    return nullptr;
}

// What went wrong in a run, one line each; empty if the program ended well, said so in its
// events, and every unit holds the image.
std::vector<std::string> check_run(const child_run& child, const event_file& file,
                                   const std::vector<std::unique_ptr<sim_unit>>& units,
                                   const std::vector<std::uint8_t>& image) {
    std::vector<std::string> problems;
    if (!child.started) {
        problems.push_back(child.error);
        return problems;
    }
    if (child.timed_out) {
        problems.push_back("the program did not end in time and was killed");
    } else if (child.exit_status != 0) {
        problems.push_back("the program ended with status " + std::to_string(child.exit_status));
    }

    if (!file.opened) {
        problems.push_back("the program wrote no events file");
    }
    for (const std::size_t line : file.bad_lines) {
        problems.push_back("line " + std::to_string(line) + " of the events file is not an event");
    }
    const auto run_end = std::find_if(file.events.begin(), file.events.end(),
                                      [](const run_event& e) { return e.event == "run_end"; });
    if (file.opened && run_end == file.events.end()) {
        problems.push_back("the events file has no run_end");
    } else if (run_end != file.events.end()) {
        if (!run_end->status || *run_end->status != 0.0) {
            problems.push_back("run_end gives no status 0");
        }
        const auto count = static_cast<double>(units.size());
        if ((run_end->succeeded && *run_end->succeeded != count) ||
            (run_end->skipped && *run_end->skipped != 0.0) ||
            (run_end->failed && *run_end->failed != 0.0)) {
            const auto shown = [](const std::optional<double>& n) {
                return n ? std::to_string(static_cast<long long>(*n)) : std::string("?");
            };
            problems.push_back("run_end counts " + shown(run_end->succeeded) + " succeeded, " +
                               shown(run_end->skipped) + " skipped, " + shown(run_end->failed) +
                               " failed of " + std::to_string(units.size()) + " units");
        }
    }

    for (const auto& unit : units) {
        const std::string port = unit->link_path().filename().string();
        if (file.opened) {
            for (const char* operation : {"load_fw", "verify"}) {
                const run_event* end = find_event(file.events, "operation_end", port, operation);
                if (end == nullptr) {
                    problems.push_back(port + ": no operation_end of " + operation);
                } else if (end->outcome != "ok") {
                    problems.push_back(port + ": " + operation + " ended " + end->outcome +
                                       (end->message.empty() ? "" : ": " + end->message));
                }
            }
            const run_event* unit_end = find_event(file.events, "unit_end", port, "");
            if (unit_end == nullptr) {
                problems.push_back(port + ": no unit_end");
            } else if (!unit_end->status || *unit_end->status != 0.0) {
                problems.push_back(port + ": unit_end gives no status 0 (verdict " +
                                   unit_end->verdict + ")");
            }
        }
        const unit_memory memory = unit->memory();
        const stored_image* stored = memory.image(units_bank, units_fpga_type);
        if (stored == nullptr || !stored->valid()) {
            problems.push_back(port + ": bank 2 holds no valid firmware image");
        } else if (stored->content != image) {
            problems.push_back(port + ": bank 2 holds " + std::to_string(stored->content.size()) +
                               " bytes that are not " + units_image_name);
        }
    }
    return problems;
}

// Runs kestrel against `count` fresh units; nothing if the run failed (after saying why).
std::optional<units_run> run_units(const units_bench_options& options, const fs::path& folder,
                                   const std::vector<std::uint8_t>& image, unsigned count,
                                   const std::string& name, const std::string& stem) {
    const fs::path logs = folder / "logs";
    const fs::path events = logs / (stem + ".events");
    std::vector<std::string> args;
    if (count == 1) {
        args = {"/port", com_name(units_first_port)};
    } else {
        std::string ports;
        for (unsigned i = 0; i < count; ++i) {
            if (i != 0) {
                ports += ',';
            }
            ports += com_name(units_first_port + i);
        }
        args = {"/ports", ports};
    }
    for (const char* word : {"/load_fw", units_image_name, "/bank", "2", "+verify", "/events"}) {
        args.emplace_back(word);
    }
    args.push_back(fs::relative(events, folder).string());
    std::string shown = "kestrel";
    for (const std::string& arg : args) {
        shown += " " + arg;
    }
    std::printf("\n%s: %s\n", name.c_str(), shown.c_str());

    const std::vector<std::unique_ptr<sim_unit>> units = start_units(folder, count);
    // Far beyond any plausible run: four times the line time of both transfers (each unit has
    // a line of its own), a minute for connecting and rebooting, a second more per unit.
    const auto line_seconds = static_cast<long long>(
        2.0 * static_cast<double>(image.size()) / 512.0 * 560.0 / line_bytes_per_second);
    units_run run;
    const double cpu_before = own_cpu_seconds();
    run.child = run_child(options.kestrel, args, folder, logs / (stem + ".out"),
                          logs / (stem + ".err"),
                          std::chrono::seconds(60 + 4 * line_seconds + count));
    run.units_cpu = own_cpu_seconds() - cpu_before;

    const event_file file = read_events(events);
    const std::vector<std::string> problems = check_run(run.child, file, units, image);
    if (!problems.empty()) {
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "FAILED: %s\n", problem.c_str());
        }
        if (run.child.started) {
            print_tail(logs / (stem + ".out"), "its output");
            print_tail(logs / (stem + ".err"), "its error output");
        }
        return std::nullopt;
    }

    const request_kind download = download_kind();
    const request_kind upload = upload_kind(image);
    for (const auto& unit : units) {
        unit_figures u;
        u.port = unit->link_path().filename().string();
        u.download = measure_progress(file.events, u.port, "load_fw");
        u.verify = measure_progress(file.events, u.port, "verify");
        const std::vector<received_item> received = unit->received();
        u.download_line = measure_transfer(received, download);
        u.verify_line = measure_transfer(received, upload);
        run.units.push_back(std::move(u));
    }
    return run;
}

// The rate of a transfer over the line's stop-and-wait bound for the whole file, when both
// are known.
std::optional<double> fraction_of(const std::optional<progress_rate>& rate,
                                  const std::optional<transfer_figures>& line, std::size_t size) {
    if (!rate || !line || line->bound_s <= 0.0 || rate->seconds <= 0.0) {
        return std::nullopt;
    }
    return rate->bytes_per_second() / (static_cast<double>(size) / line->bound_s);
}

std::string rate_text(const std::optional<progress_rate>& rate,
                      const std::optional<transfer_figures>& line, std::size_t size) {
    const std::optional<double> fraction = fraction_of(rate, line, size);
    if (!fraction) {
        return "not measured";
    }
    char text[96];
    std::snprintf(text, sizeof text, "%.4f (%5.0f of %5.0f bytes/s)", *fraction,
                  rate->bytes_per_second(), static_cast<double>(size) / line->bound_s);
    return text;
}

std::string line_fraction_text(const std::optional<transfer_figures>& line) {
    if (!line || line->measured_s <= 0.0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", line->bound_s / line->measured_s);
    return text;
}

double cpu_percent(const child_run& child) {
    return child.wall_seconds > 0.0
               ? 100.0 * (child.user_seconds + child.system_seconds) / child.wall_seconds
               : 0.0;
}

void print_run(const units_run& run, std::size_t size) {
    const child_run& c = run.child;
    std::printf("  whole run            %.3f s\n", c.wall_seconds);
    std::printf("  kestrel CPU          %.3f s  (user %.3f + system %.3f) = %.2f %% of one core\n",
                c.user_seconds + c.system_seconds, c.user_seconds, c.system_seconds,
                cpu_percent(c));
    std::printf("  simulated units CPU  %.3f s  (this process meanwhile)\n", run.units_cpu);
    std::printf("  port   download: fraction of bound (rate)     verify: fraction of bound "
                "(rate)       unit's record\n");
    for (const unit_figures& u : run.units) {
        std::printf("  %-6s %-38s %-38s %s %s\n", u.port.c_str(),
                    rate_text(u.download, u.download_line, size).c_str(),
                    rate_text(u.verify, u.verify_line, size).c_str(),
                    line_fraction_text(u.download_line).c_str(),
                    line_fraction_text(u.verify_line).c_str());
    }
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

// The lowest fraction among the units' transfers of one kind, with its port, and how many of
// them could not be measured.
void print_lowest(const char* label, const std::vector<unit_figures>& units, std::size_t size,
                  bool download) {
    std::optional<double> lowest;
    std::string lowest_port;
    double highest = 0.0;
    std::size_t unmeasured = 0;
    for (const unit_figures& u : units) {
        const std::optional<double> f = download ? fraction_of(u.download, u.download_line, size)
                                                 : fraction_of(u.verify, u.verify_line, size);
        if (!f) {
            ++unmeasured;
            continue;
        }
        if (!lowest || *f < *lowest) {
            lowest = *f;
            lowest_port = u.port;
        }
        highest = std::max(highest, *f);
    }
    if (!lowest) {
        std::printf("  %-20s not measured on any unit            goal at least %.2f: unknown\n",
                    label, goal_fraction);
        return;
    }
    std::printf("  %-20s lowest %.4f (%s), highest %.4f  goal at least %.2f: %s", label,
                *lowest, lowest_port.c_str(), highest, goal_fraction,
                unmeasured == 0 ? verdict(*lowest >= goal_fraction) : "unknown");
    if (unmeasured != 0) {
        std::printf("  (%zu units not measured)", unmeasured);
    }
    std::printf("\n");
}

}  // namespace

int bench_units(const units_bench_options& options) {
    if (!fs::is_regular_file(options.kestrel)) {
        std::fprintf(stderr, "kestrel-bench: no program at %s\n", options.kestrel.c_str());
        return 2;
    }
    if (options.units < fewest_units || options.units > most_units) {
        std::fprintf(stderr, "kestrel-bench: --units takes %u to %u\n", fewest_units,
                     most_units);
        return 2;
    }
    temp_folder folder;
    folder.keep(options.keep);
    fs::create_directory(folder.path() / "logs");

    const std::vector<std::uint8_t> image = pseudo_random_bytes(options.size, units_image_seed);
    write_file(folder.path() / units_image_name, image);
    std::printf("kestrel-bench: %s, %zu bytes, %u units (COM%u to COM%u), line 115200 baud 8N1 "
                "(%.0f bytes/s)\n",
                options.kestrel.c_str(), image.size(), options.units, units_first_port,
                units_first_port + options.units - 1, line_bytes_per_second);
    std::printf("Rates: bytes moved between the first progress event with bytes done and the "
                "first with the most,\nover the time between them, held against the "
                "stop-and-wait bound of the unit's chunks (fraction).\nThe unit's record: the "
                "same fraction from when the unit received each request (download, verify).\n");

    // Fresh units for each run: both do the same work, and nothing is found already loaded.
    const std::optional<units_run> one =
        run_units(options, folder.path(), image, 1, "one unit", "one");
    if (one) {
        print_run(*one, image.size());
    }
    const std::string many_name = std::to_string(options.units) + " units";
    const std::optional<units_run> many =
        one ? run_units(options, folder.path(), image, options.units, many_name, "units")
            : std::nullopt;
    if (!one || !many) {
        folder.keep(true);  // for a look at the events and the program's output
        return 1;
    }
    print_run(*many, image.size());

    const double ratio = many->child.wall_seconds / one->child.wall_seconds;
    std::printf("\nsummary (goals are only printed)\n");
    std::printf("  whole run            %s %.3f s / one unit %.3f s = %.3f  goal at most %.1f: "
                "%s\n",
                many_name.c_str(), many->child.wall_seconds, one->child.wall_seconds, ratio,
                goal_wall_ratio, verdict(ratio <= goal_wall_ratio));
    print_lowest("download fraction", many->units, image.size(), true);
    print_lowest("verify fraction", many->units, image.size(), false);
    const double percent = cpu_percent(many->child);
    std::printf("  kestrel CPU          %.2f %% of one core with %s (%.2f %% with one)  goal "
                "under %.0f %%: %s\n",
                percent, many_name.c_str(), cpu_percent(one->child), goal_cpu_percent,
                verdict(percent < goal_cpu_percent));
    return 0;
}
