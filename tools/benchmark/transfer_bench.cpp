// kestrel-bench: how close the program comes to the line rate in a download and an upload.
//
// In a fresh temporary folder it starts the simulated unit paced at 115200 baud, writes a file
// of pseudo-random bytes, runs
//     kestrel /interface 3 /load_fw bench.bin /bank 2
//     kestrel /interface 3 +get_fw /bank 2
// as child processes, and prints for each the transfer time taken from the unit's record (see
// bench_timing.h for what exactly is measured), the stop-and-wait bound of the line, the
// fraction of it reached and the processor time the program used. The read-back must equal
// the file: a mismatch is a fault and ends the run with status 1. Speeds are only printed.
//
// With --units N (2 to 64) it measures the program serving several units at once instead
// (bench_units.h): it starts fresh simulated units on COM3 to COM<N+2> for each run and runs
//     kestrel /port COM3 /load_fw bench.bin /bank 2 +verify /events logs/one.events
//     kestrel /ports COM3,...,COM<N+2> /load_fw bench.bin /bank 2 +verify /events logs/units.events
// then prints the whole run's time with N units against one unit's, each unit's download and
// read-back rate from the events as a fraction of the line's stop-and-wait bound (see
// bench_progress.h), and the program's processor time as a share of one core, each beside its
// goal. A run that fails, or after which a unit does not hold the file, ends with status 1.
//
//     kestrel-bench [--keep] [--units N] [KESTREL [SIZE]]
// KESTREL defaults to the kestrel beside this program; SIZE is in bytes, or with K or M in
// KiB or MiB (default 256K, or 64K with --units). --keep leaves the temporary folder in place
// for a look.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/benchmark/bench_files.h"
#include "tools/benchmark/bench_kinds.h"
#include "tools/benchmark/bench_process.h"
#include "tools/benchmark/bench_timing.h"
#include "tools/benchmark/bench_units.h"
#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_unit.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned bench_port = 3;
constexpr std::size_t default_size = 256 * 1024;
constexpr std::size_t default_units_size = 64 * 1024;
constexpr const char* file_name = "bench.bin";
constexpr std::uint64_t content_seed = 0x6b657374726c;

struct bench_options {
    fs::path kestrel;
    std::size_t size = default_size;
    bool keep = false;
    unsigned units = 0;  // 0: one unit, a download and an upload; else --units N
};

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: kestrel-bench [--keep] [--units N] [KESTREL [SIZE]]\n"
                 "  KESTREL    the program to time (default: kestrel beside kestrel-bench)\n"
                 "  SIZE       file size in bytes, or with K or M in KiB or MiB (default 256K,\n"
                 "             or 64K with --units)\n"
                 "  --keep     keep the temporary folder\n"
                 "  --units N  N units at once (2 to 64) against one alone: the whole run's\n"
                 "             time, each unit's download and verify rate, the program's CPU\n");
}

std::optional<std::size_t> parse_size(const std::string& text) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const std::string suffix = text.substr(used);
    unsigned long long unit = 1;
    if (suffix == "K" || suffix == "k") {
        unit = 1024;
    } else if (suffix == "M" || suffix == "m") {
        unit = 1024 * 1024;
    } else if (!suffix.empty()) {
        return std::nullopt;
    }
    if (value > fpga_capacity / unit) {  // before multiplying, which could wrap
        return std::nullopt;
    }
    value *= unit;
    if (value == 0 || value > fpga_capacity) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(value);
}

// A count of units: decimal digits only, fewest_units to most_units.
std::optional<unsigned> parse_units(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < fewest_units || value > most_units) {
        return std::nullopt;
    }
    return value;
}

std::optional<bench_options> parse_arguments(int argc, char** argv) {
    bench_options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--keep") {
            options.keep = true;
        } else if (word == "--units") {
            const std::optional<unsigned> units =
                i + 1 < argc ? parse_units(argv[i + 1]) : std::nullopt;
            if (!units || options.units != 0) {
                std::fprintf(stderr, "kestrel-bench: --units takes a number of units from %u "
                             "to %u, once\n", fewest_units, most_units);
                usage(stderr);
                return std::nullopt;
            }
            options.units = *units;
            ++i;
        } else if (word == "--help" || word == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            positional.push_back(word);
        }
    }
    if (positional.size() > 2) {
        usage(stderr);
        return std::nullopt;
    }
    if (!positional.empty()) {
        options.kestrel = fs::absolute(positional[0]);
    } else {
        std::error_code error;
        const fs::path self = fs::read_symlink("/proc/self/exe", error);
        options.kestrel = (error ? fs::absolute(argv[0]) : self).parent_path() / "kestrel";
    }
    if (options.units != 0) {
        options.size = default_units_size;
    }
    if (positional.size() == 2) {
        const std::optional<std::size_t> size = parse_size(positional[1]);
        if (!size) {
            std::fprintf(stderr, "kestrel-bench: SIZE must be 1 byte to %zu bytes, not %s\n",
                         fpga_capacity, positional[1].c_str());
            return std::nullopt;
        }
        options.size = *size;
    }
    return options;
}

// Regular files anywhere in the folder but its log folder.
std::set<fs::path> files_in(const fs::path& folder, const fs::path& logs) {
    std::set<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().parent_path() != logs) {
            files.insert(entry.path());
        }
    }
    return files;
}

struct direction {
    const char* name;
    const char* request;
    const char* answer;
    std::vector<std::string> args;
    request_kind kind;
};

// Runs one transfer and prints its figures; false (after saying why) if it failed.
bool run_direction(const bench_options& options, const fs::path& folder, sim_unit& unit,
                   const direction& d, std::size_t bytes) {
    const fs::path logs = folder / "logs";
    unit.clear_received();
    const double unit_cpu_before = own_cpu_seconds();
    // Far beyond any plausible run: four times the line time, and a minute for connecting.
    const auto line_seconds = static_cast<long long>(
        static_cast<double>(bytes) / 512.0 * 560.0 / line_bytes_per_second);
    const child_run run = run_child(options.kestrel, d.args, folder,
                                    logs / (std::string(d.name) + ".out"),
                                    logs / (std::string(d.name) + ".err"),
                                    std::chrono::seconds(60 + 4 * line_seconds));
    const double unit_cpu = own_cpu_seconds() - unit_cpu_before;

    std::string shown = "kestrel";
    for (const std::string& arg : d.args) {
        shown += " " + arg;
    }
    std::printf("\n%s: %s\n", d.name, shown.c_str());
    if (!run.succeeded()) {
        if (!run.started) {
            std::fprintf(stderr, "FAILED: %s\n", run.error.c_str());
        } else if (run.timed_out) {
            std::fprintf(stderr, "FAILED: the %s did not end in time and was killed\n", d.name);
        } else {
            std::fprintf(stderr, "FAILED: the %s ended with status %d\n", d.name,
                         run.exit_status);
        }
        if (run.started) {
            print_tail(logs / (std::string(d.name) + ".out"), "its output");
            print_tail(logs / (std::string(d.name) + ".err"), "its error output");
        }
        return false;
    }
    const std::optional<transfer_figures> f = measure_transfer(unit.received(), d.kind);
    if (!f) {
        std::fprintf(stderr, "FAILED: the unit received no %s\n", d.request);
        print_tail(logs / (std::string(d.name) + ".out"), "its output");
        return false;
    }
    std::printf("  bytes                %zu\n", bytes);
    std::printf("  chunks               %zu (%zu %s received, %zu other items meanwhile)\n",
                f->chunks, f->requests, d.request, f->others);
    std::printf("  transfer time        %.3f s  (first %s's first byte to the last %s's last)\n",
                f->measured_s, d.request, d.answer);
    std::printf("  stop-and-wait bound  %.3f s  (%zu x (%zu + %zu) bytes / %.0f bytes/s)\n",
                f->bound_s, f->chunks, f->request_wire, f->answer_wire, line_bytes_per_second);
    std::printf("  fraction of bound    %.4f\n", f->bound_s / f->measured_s);
    std::printf("  idle line per turn   min %.3f  median %.3f  mean %.3f  p90 %.3f  max %.3f ms"
                "  (%.3f s in all)\n",
                f->idle.min_ms, f->idle.median_ms, f->idle.mean_ms, f->idle.p90_ms,
                f->idle.max_ms, f->idle.total_s);
    std::printf("  kestrel CPU          %.3f s  (user %.3f + system %.3f; whole run %.3f s)\n",
                run.user_seconds + run.system_seconds, run.user_seconds, run.system_seconds,
                run.wall_seconds);
    std::printf("  simulated unit CPU   %.3f s  (this process meanwhile)\n", unit_cpu);
    return true;
}

int bench(const bench_options& options) {
    if (!fs::is_regular_file(options.kestrel)) {
        std::fprintf(stderr, "kestrel-bench: no program at %s\n", options.kestrel.c_str());
        return 2;
    }
    temp_folder folder;
    folder.keep(options.keep);
    const fs::path logs = folder.path() / "logs";
    fs::create_directory(logs);

    sim_unit_options unit_options;
    unit_options.link_dir = folder.path();
    unit_options.port = bench_port;
    unit_options.pacing = true;
    sim_unit unit(unit_options);
    unit.start();

    const std::vector<std::uint8_t> content = pseudo_random_bytes(options.size, content_seed);
    write_file(folder.path() / file_name, content);
    std::printf("kestrel-bench: %s, %zu bytes, line 115200 baud 8N1 (%.0f bytes/s)\n",
                options.kestrel.c_str(), content.size(), line_bytes_per_second);

    const std::string port = std::to_string(bench_port);
    const direction download{
        "download", "DL_DATA", "DL_ACK",
        {"/interface", port, "/load_fw", file_name, "/bank", "2"},
        download_kind()};
    if (!run_direction(options, folder.path(), unit, download, content.size())) {
        return 1;
    }

    const std::set<fs::path> before = files_in(folder.path(), logs);
    const direction upload{
        "upload", "FILE_REQ", "FILE_ACK",
        {"/interface", port, "+get_fw", "/bank", "2"},
        upload_kind(content)};
    if (!run_direction(options, folder.path(), unit, upload, content.size())) {
        return 1;
    }

    std::vector<fs::path> written;
    for (const fs::path& file : files_in(folder.path(), logs)) {
        if (before.count(file) == 0) {
            written.push_back(file);
        }
    }
    for (const fs::path& file : written) {
        if (read_file(file) == content) {
            std::printf("\nread-back: %s equals %s (%zu bytes)\n",
                        fs::relative(file, folder.path()).c_str(), file_name, content.size());
            return 0;
        }
    }
    std::fprintf(stderr, "\nFAILED: the read-back does not equal %s (%zu bytes); new files:\n",
                 file_name, content.size());
    for (const fs::path& file : written) {
        std::fprintf(stderr, "  %s, %ju bytes\n", fs::relative(file, folder.path()).c_str(),
                     static_cast<std::uintmax_t>(fs::file_size(file)));
    }
    if (written.empty()) {
        std::fprintf(stderr, "  (none)\n");
    }
    folder.keep(true);  // for a look at what was written
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Line by line, so that the figures and any failure on stderr come out in order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::optional<bench_options> options = parse_arguments(argc, argv);
    if (!options) {
        return 2;
    }
    try {
        if (options->units != 0) {
            return bench_units({options->kestrel, options->size, options->units, options->keep});
        }
        return bench(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-bench: %s\n", error.what());
        return 2;
    }
}
