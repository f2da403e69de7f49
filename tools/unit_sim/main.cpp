// kestrel-unit: the simulated unit as a program for people. It makes the port, tells where it
// is, answers the program until Ctrl-C or SIGTERM, then removes its links.
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <pthread.h>

#include "tools/unit_sim/sim_cli.h"
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
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    int status = 0;
    try {
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
        sigwait(&stop_signals, &signal_number);
        unit.stop();
        std::printf("kestrel-unit: stopped, links removed\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-unit: %s\n", error.what());
        status = exit_failure;
    }
    if (record_file != nullptr) {
        std::fclose(record_file);
    }
    return status;
}
