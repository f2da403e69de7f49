// kestrel-unit: the simulated unit as a program for people. It makes the port, tells where it
// is, answers the program until Ctrl-C or SIGTERM, then removes its links and, when asked,
// writes out what it stores. SIGUSR1 pulls its port while it keeps running.
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdexcept>

#include "tools/unit_sim/sim_cli.h"
#include "tools/unit_sim/sim_download.h"
#include "tools/unit_sim/sim_dump.h"
#include "tools/unit_sim/sim_unit.h"

namespace {

constexpr int exit_usage = 2;
constexpr int exit_failure = 1;

// The record file, written from the unit's thread one line per item.
class record_writer {
public:
    explicit record_writer(std::FILE* file) : file_(file) {}
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
    sim_unit_options options = parsed.options.unit;
    options.keep_received = false;  // a run may last for hours: the record goes to a file only

    std::FILE* record_file = nullptr;
    std::unique_ptr<record_writer> recorder;
    if (!parsed.options.record_file.empty()) {
        record_file = std::fopen(parsed.options.record_file.c_str(), "w");
        if (record_file == nullptr) {
            std::perror(("kestrel-unit: cannot write " + parsed.options.record_file).c_str());
            return exit_failure;
        }
        recorder = std::make_unique<record_writer>(record_file);
        options.on_received = [&recorder](const received_item& item) { recorder->write(item); };
    }

    // The signals are taken by sigwait below; every thread started from here on blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    int status = 0;
    try {
        options.preloads = read_bank_files(parsed.options.bank_files);
        sim_unit unit(options);
        unit.start();
        std::printf("kestrel-unit: unit on COM%u (%s -> %s); Ctrl-C to stop\n", options.port,
                    unit.link_path().c_str(), unit.pty_path().c_str());
        if (!unit.wine_link_path().empty()) {
            std::printf("kestrel-unit: wine sees it as COM%u through %s\n", options.port,
                        unit.wine_link_path().c_str());
        }
        std::fflush(stdout);
        int signal_number = 0;
        while (sigwait(&signals, &signal_number) == 0 && signal_number == SIGUSR1) {
            unit.disconnect();
            std::printf("kestrel-unit: port pulled, links removed; the unit runs on\n");
            std::fflush(stdout);
        }
        unit.stop();
        std::printf("kestrel-unit: stopped, links removed\n");
        if (!parsed.options.dump_dir.empty()) {
            dump_memory(unit.memory(), parsed.options.dump_dir);
            std::printf("kestrel-unit: what the unit stores is in %s\n",
                        parsed.options.dump_dir.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-unit: %s\n", error.what());
        status = exit_failure;
    }
    if (record_file != nullptr) {
        std::fclose(record_file);
    }
    return status;
}
