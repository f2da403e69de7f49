// kestrel-wait-bench: how much processor time the program uses while it waits for the unit.
//
// In a fresh temporary folder it starts the simulated unit and runs kestrel in each kind of
// wait, as a child process with its input from /dev/null, and prints the wait's length, the
// processor time the program used in it and that time as a share of one core:
//   connecting   a silent unit: the boot report is asked for three times, then given up;
//   bank table   the unit falls silent after its boot report: FLASH_INFO never comes;
//   DL_READY     a download while the unit reboots into its boot loader for 10 s;
//   boot report  +boot while the unit takes 10 s to boot, twice (through its boot loader);
//   idle         the menu, nothing to do, for 10 s.
// Every figure includes starting and ending the program (about 3 s, mostly sleeping).
// Speeds and shares are only printed, never judged.
//
//     kestrel-wait-bench [KESTREL]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tools/benchmark/bench_process.h"
#include "tools/unit_sim/sim_unit.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr unsigned bench_port = 3;
constexpr auto slow_boot = 10s;

struct wait_case {
    const char* name;
    std::vector<std::string> args;  // after /interface 3
    std::function<void(sim_unit_options&)> set_up;
    // Runs beside the program, with the unit running: may change the unit's faults.
    std::function<void(sim_unit&)> meanwhile;
    std::chrono::seconds limit;
};

fs::path make_folder() {
    std::string pattern = (fs::temp_directory_path() / "kestrel-wait.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

bool has_received(const sim_view& view, sub_code sub) {
    for (const received_item& item : view.received) {
        if (item.kind == received_kind::message && item.bytes.size() > head_sub &&
            item.bytes[head_sub] == sub_byte(sub)) {
            return true;
        }
    }
    return false;
}

void run_case(const fs::path& kestrel, const wait_case& c) {
    const fs::path folder = make_folder();
    sim_unit_options options;
    options.link_dir = folder;
    options.port = bench_port;
    if (c.set_up) {
        c.set_up(options);
    }
    sim_unit unit(options);
    unit.start();
    {
        std::ofstream(folder / "wait.bin", std::ios::binary) << std::string(1024, 'w');
    }
    std::thread beside;
    if (c.meanwhile) {
        beside = std::thread([&unit, &c] { c.meanwhile(unit); });
    }
    std::vector<std::string> args = {"/interface", std::to_string(bench_port)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const child_run run =
        run_child(kestrel, args, folder, folder / "out.txt", folder / "err.txt", c.limit);
    if (beside.joinable()) {
        beside.join();
    }
    unit.stop();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!run.started) {
        std::printf("%-12s  cannot run: %s\n", c.name, run.error.c_str());
        return;
    }
    const double cpu = run.user_seconds + run.system_seconds;
    std::printf("%-12s  %6.1f s  %6.3f s  %5.2f %%  (status %d%s)\n", c.name, run.wall_seconds,
                cpu, 100.0 * cpu / run.wall_seconds, run.exit_status,
                run.timed_out ? ", ended by the benchmark" : "");
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fs::path kestrel;
    if (argc > 1) {
        kestrel = fs::absolute(argv[1]);
    } else {
        std::error_code error;
        const fs::path self = fs::read_symlink("/proc/self/exe", error);
        kestrel = (error ? fs::absolute(argv[0]) : self).parent_path() / "kestrel";
    }
    if (!fs::is_regular_file(kestrel)) {
        std::fprintf(stderr, "kestrel-wait-bench: no program at %s\n", kestrel.c_str());
        return 2;
    }
    const auto slow = [](sim_unit_options& o) { o.boot_delay = slow_boot; };
    const std::vector<wait_case> cases = {
        {"connecting", {"+info"}, [](sim_unit_options& o) { o.faults.silent = true; }, {}, 60s},
        {"bank table",
         {"+info"},
         {},
         [](sim_unit& unit) {
             // The boot report is on its way by then; FLASH_INFO_REQ then finds a silent unit.
             unit.wait_until(
                 [](const sim_view& v) { return has_received(v, sub_code::BOOTINFO_REQ); }, 20s);
             sim_faults silent;
             silent.silent = true;
             unit.set_faults(silent);
         },
         60s},
        {"DL_READY", {"/bank", "2", "/load_fw", "wait.bin"}, slow, {}, 60s},
        {"boot report", {"/bank", "2", "+boot"}, slow, {}, 60s},
        {"idle", {}, {}, {}, 10s},
    };
    try {
        std::printf("kestrel-wait-bench: %s\n", kestrel.c_str());
        std::printf("%-12s  %8s  %8s  %7s\n", "wait", "length", "CPU", "of core");
        for (const wait_case& c : cases) {
            run_case(kestrel, c);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-wait-bench: %s\n", error.what());
        return 2;
    }
    return 0;
}
