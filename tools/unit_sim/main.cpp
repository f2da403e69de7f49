// kestrel-unit: the simulated unit as a program for people. It makes the port of each unit it
// is asked for, tells where they are, answers the program until Ctrl-C or SIGTERM, then removes
// the links and, when asked, writes out what each unit stores. SIGUSR1 pulls every port while
// the units keep running; with --back-after the ports are put back after a while.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <vector>

#include "tools/unit_sim/sim_cli.h"
#include "tools/unit_sim/sim_download.h"
#include "tools/unit_sim/sim_dump.h"
#include "tools/unit_sim/sim_unit.h"

namespace {

constexpr int exit_usage = 2;
constexpr int exit_failure = 1;

// A record file, written from its unit's thread one line per item; closed with the writer.
class record_writer {
public:
    explicit record_writer(std::FILE* file) : file_(file) {}
    ~record_writer() { std::fclose(file_); }
    record_writer(const record_writer&) = delete;
    record_writer& operator=(const record_writer&) = delete;

    void write(const received_item& item) {
        const std::string line = record_line(item);
        const std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
    }

private:
    std::mutex mutex_;
    std::FILE* file_;
};

// The images to store before the unit starts, read from their files and checked as the unit
// checks a download.
std::vector<image_preload> read_bank_files(const std::vector<bank_file>& files) {
    std::vector<image_preload> preloads;
    for (const bank_file& file : files) {
        image_preload preload;
        preload.bank = file.bank;
        preload.file_type = file.file_type;
        preload.file_name = file.path.filename().string();
        std::ifstream in(file.path, std::ios::binary | std::ios::ate);
        const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
        if (size >= 0) {
            preload.content.resize(static_cast<std::size_t>(size));
            in.seekg(0);
            in.read(reinterpret_cast<char*>(preload.content.data()), size);
        }
        if (size < 0 || !in) {
            throw std::runtime_error("cannot read " + file.path.string());
        }
        unit_memory check;
        const std::string wrong = preload_image(check, preload);
        if (!wrong.empty()) {
            throw std::runtime_error(file.path.string() + ": " + wrong);
        }
        preloads.push_back(std::move(preload));
    }
    return preloads;
}

// Waits for one of `signals`; with a deadline, gives up when it has passed. The signal's
// number, or 0 at the deadline; -1 when waiting fails.
int next_signal(const sigset_t& signals,
                std::optional<std::chrono::steady_clock::time_point> deadline) {
    for (;;) {
        if (!deadline) {
            int signal_number = 0;
            return sigwait(&signals, &signal_number) == 0 ? signal_number : -1;
        }
        const auto left = std::max(std::chrono::nanoseconds::zero(),
                                   std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       *deadline - std::chrono::steady_clock::now()));
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
        wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        const int signal_number = sigtimedwait(&signals, nullptr, &wait);
        if (signal_number > 0) {
            return signal_number;
        }
        if (errno == EAGAIN) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

// Puts every pulled port back. A port that cannot come back (something took the place of its
// link) is reported and stays pulled; its unit runs on.
void put_ports_back(const std::vector<std::unique_ptr<sim_unit>>& units,
                    const std::vector<unit_plan>& plans) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const unsigned port = plans[i].unit.port;
        try {
            units[i]->reconnect();
            std::printf("kestrel-unit: port COM%u put back\n", port);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "kestrel-unit: port COM%u not put back: %s\n", port,
                         error.what());
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const unit_command_result parsed = parse_unit_command_line(
        std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)));
    if (!parsed.ok) {
        std::fprintf(stderr, "kestrel-unit: %s\nTry 'kestrel-unit --help'.\n",
                     parsed.error.c_str());
        return exit_usage;
    }
    if (parsed.options.help) {
        std::fputs(unit_usage_text().c_str(), stdout);
        return 0;
    }
    std::vector<unit_plan> plans = plan_units(parsed.options);

    // Declared before the units, so that every writer outlives the unit that calls it.
    std::vector<std::unique_ptr<record_writer>> recorders;
    for (unit_plan& plan : plans) {
        plan.unit.keep_received = false;  // a run may last for hours: the record goes to a file
        if (plan.record_file.empty()) {
            continue;
        }
        std::FILE* file = std::fopen(plan.record_file.c_str(), "w");
        if (file == nullptr) {
            std::perror(("kestrel-unit: cannot write " + plan.record_file).c_str());
            return exit_failure;
        }
        recorders.push_back(std::make_unique<record_writer>(file));
        record_writer* recorder = recorders.back().get();
        plan.unit.on_received = [recorder](const received_item& item) { recorder->write(item); };
    }
    const bool several = plans.size() > 1;

    // The signals are taken by sigwait below; every thread started from here on blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    int status = 0;
    try {
        const std::vector<image_preload> preloads = read_bank_files(parsed.options.bank_files);
        // A unit that cannot start throws; leaving this block then destroys the units already
        // started, which stops them and removes their links.
        std::vector<std::unique_ptr<sim_unit>> units;
        for (unit_plan& plan : plans) {
            plan.unit.preloads = preloads;
            units.push_back(std::make_unique<sim_unit>(plan.unit));
            units.back()->start();
        }
        for (std::size_t i = 0; i < units.size(); ++i) {
            const sim_unit& unit = *units[i];
            const unsigned port = plans[i].unit.port;
            std::printf("kestrel-unit: unit on COM%u (%s -> %s); Ctrl-C to stop\n", port,
                        unit.link_path().c_str(), unit.pty_path().c_str());
            if (!unit.wine_link_path().empty()) {
                std::printf("kestrel-unit: wine sees it as COM%u through %s\n", port,
                            unit.wine_link_path().c_str());
            }
        }
        std::fflush(stdout);
        // When the pulled ports come back; a further pull waits the time afresh.
        std::optional<std::chrono::steady_clock::time_point> put_back_at;
        for (;;) {
            const int signal_number = next_signal(signals, put_back_at);
            if (signal_number == 0) {
                put_back_at.reset();
                put_ports_back(units, plans);
                continue;
            }
            if (signal_number != SIGUSR1) {
                break;
            }
            for (const std::unique_ptr<sim_unit>& unit : units) {
                unit->disconnect();
            }
            std::fputs(several ? "kestrel-unit: ports pulled, links removed; the units run on\n"
                               : "kestrel-unit: port pulled, links removed; the unit runs on\n",
                       stdout);
            std::fflush(stdout);
            if (parsed.options.back_after) {
                put_back_at = std::chrono::steady_clock::now() + *parsed.options.back_after;
            }
        }
        for (const std::unique_ptr<sim_unit>& unit : units) {
            unit->stop();
        }
        std::printf("kestrel-unit: stopped, links removed\n");
        // One dump that fails does not keep the other units' contents from being written.
        for (std::size_t i = 0; i < units.size(); ++i) {
            const std::filesystem::path& folder = plans[i].dump_dir;
            if (folder.empty()) {
                continue;
            }
            try {
                dump_memory(units[i]->memory(), folder);
                if (several) {
                    std::printf("kestrel-unit: what the unit on COM%u stores is in %s\n",
                                plans[i].unit.port, folder.c_str());
                } else {
                    std::printf("kestrel-unit: what the unit stores is in %s\n", folder.c_str());
                }
            } catch (const std::exception& error) {
                std::fprintf(stderr, "kestrel-unit: %s\n", error.what());
                status = exit_failure;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-unit: %s\n", error.what());
        status = exit_failure;
    }
    return status;
}
