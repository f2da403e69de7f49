// The behaviour of the simulated unit, without any port: it takes in received bytes with their
// arrival times, answers requests as the unit's boot loader does, runs its reboots on a timer,
// injects the configured faults, and hands out the bytes to send with the time they are due.
// Not thread-safe: its owner serialises all calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/unit_sim/sim_answers.h"
#include "tools/unit_sim/sim_boot.h"
#include "tools/unit_sim/sim_download.h"
#include "tools/unit_sim/sim_injector.h"
#include "tools/unit_sim/sim_line.h"
#include "tools/unit_sim/sim_options.h"
#include "tools/unit_sim/sim_reader.h"
#include "tools/unit_sim/sim_terminal.h"
#include "tools/unit_sim/sim_trace.h"
#include "tools/unit_sim/sim_view.h"

struct timed_bytes {
    sim_clock::time_point at;  // when the unit hands them to the line
    std::vector<std::uint8_t> bytes;
};

class unit_core {
public:
    unit_core(const sim_unit_options& options, sim_clock::time_point start);

    const sim_view& view() const noexcept { return view_; }
    sim_view& view() noexcept { return view_; }
    void set_faults(const sim_faults& faults);
    // The port plugged in or pulled. While it is pulled the unit runs on, but its answers and
    // terminal text go nowhere; a frame begun on the old line is forgotten, as its rest will
    // never come.
    void set_line(bool present);

    // One byte that has arrived at `at`; times never go back.
    void receive(std::uint8_t byte, sim_clock::time_point at);
    // Runs the reboot steps due by `until`.
    void run_timers(sim_clock::time_point until);
    std::optional<sim_clock::time_point> next_timer() const;
    // Bytes the receiver still needs before it can act.
    std::size_t bytes_needed() const noexcept;
    // What is to be sent, in order; the list is emptied.
    std::vector<timed_bytes> take_output();

private:
    struct pending_report {
        sim_clock::time_point due;
        boot_report report;
        std::uint8_t target;
    };

    double ms_since_start(sim_clock::time_point at) const;
    void record(received_kind kind, const std::vector<std::uint8_t>& bytes,
                sim_clock::time_point at);
    void take_framed(std::uint8_t byte, sim_clock::time_point at);
    void take_typed(std::uint8_t byte, sim_clock::time_point at);
    void on_raw(std::uint8_t byte, sim_clock::time_point at);
    void on_message(const std::vector<std::uint8_t>& message, sim_clock::time_point at);
    void on_loader_request(const std::vector<std::uint8_t>& message, sim_clock::time_point at);

    void start_boot(std::uint8_t target, sim_clock::time_point at, bool then_ready);
    void on_boot_report(const pending_report& step);
    void on_dl_req(sim_clock::time_point at);
    void on_firmware_info(std::span<const std::uint8_t> message, sim_clock::time_point at);
    void on_dl_data(std::span<const std::uint8_t> message, sim_clock::time_point at);
    void on_file_req(std::span<const std::uint8_t> message, sim_clock::time_point at);
    void on_eeprom_info_req(std::span<const std::uint8_t> message, sim_clock::time_point at);
    void on_log_req(std::span<const std::uint8_t> message, sim_clock::time_point at);
    void send_flash_info(sim_clock::time_point at);

    void send(message_t message, sim_clock::time_point at);
    void send_text(const std::string& text, sim_clock::time_point at);
    // Hands bytes to the line, through its noise.
    void put_on_line(std::vector<std::uint8_t> bytes, sim_clock::time_point at);
    void log_event(sim_clock::time_point at, const std::string& text);

    sim_clock::time_point start_;
    std::chrono::milliseconds boot_delay_;
    sim_trace trace_;
    std::function<void(const received_item&)> on_received_;
    bool keep_received_;
    fault_injector faults_;

    sim_view view_;
    frame_reader reader_;
    unit_terminal terminal_;
    download_session download_;
    unsigned exit_streak_ = 0;  // LOADER_EXIT messages in a row
    std::deque<pending_report> boot_steps_;
    bool ready_after_boot_ = false;  // DL_READY once the boot into the loader is done
    std::vector<timed_bytes> output_;
};
