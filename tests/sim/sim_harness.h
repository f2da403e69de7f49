// The PC's side of the line in the simulated-unit tests: the port opened through the unit's
// link with plain POSIX calls, frames built with serial_frame and answers found with the
// program's own assemble_frame; and a fixture that starts a unit in a private folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/capture.h"
#include "tools/unit_sim/sim_answers.h"
#include "tools/unit_sim/sim_unit.h"

using namespace std::chrono_literals;

class pc_port {
public:
    explicit pc_port(const std::filesystem::path& link);
    ~pc_port();
    pc_port(const pc_port&) = delete;
    pc_port& operator=(const pc_port&) = delete;

    bool is_open() const noexcept { return fd_ >= 0; }

    void send(const message_t& message);  // as one serial frame
    void send_raw(std::string_view bytes);

    // The next good message from the unit; nullopt when none comes in time.
    std::optional<message_t> receive(std::chrono::milliseconds timeout = 2000ms);
    // Raw bytes (polling mode) until `count` have come or the time is up.
    std::string read_text(std::size_t count, std::chrono::milliseconds timeout = 2000ms);
    // True if nothing at all arrives for `period`.
    bool quiet_for(std::chrono::milliseconds period);
    // True if a read fails or the line hangs up within the time.
    bool breaks_within(std::chrono::milliseconds timeout);

    // Checksum errors seen in what was received.
    int crc_errors() const { return crc_errors_.load(); }

private:
    // Waits for bytes and appends them to the receive buffer; false on time-out or error.
    bool read_more(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::vector<std::uint8_t> buffer_;
    std::size_t fill_ = 0;
    std::atomic<int> crc_errors_{0};
};

// A request from the PC: DA 0x2A, SA 0x10, CMD 0x55 (0x48 for REBOOT_REQ).
message_t request(sub_code sub, std::initializer_list<std::uint8_t> params = {0});
message_t reboot_request(std::uint8_t bank);
message_t file_request(std::uint8_t index, std::uint8_t type, std::uint16_t block_size,
                       std::uint16_t block);
// FIRMWARE_INFO for a file, its texts filled in.
message_t firmware_info(std::uint8_t type, std::uint8_t index,
                        const std::vector<std::uint8_t>& file, std::uint32_t crc);
// DL_DATA chunk k of a file, always 522 bytes.
message_t dl_data(const std::vector<std::uint8_t>& file, std::uint16_t chunk);

bool is_answer(const std::optional<message_t>& message, sub_code sub);

// A unit in a private folder and the PC's port opened on it. The program's output
// (checksum-error lines of assemble_frame) is captured.
class SimTest : public ::testing::Test {
protected:
    SimTest();
    ~SimTest() override;

    // Starts a unit with a 50 ms boot delay and pacing on unless the options say otherwise.
    void start(sim_unit_options options);
    void start() { start(test_options()); }
    sim_unit_options test_options() const;

    // Sends a request and returns the next answer.
    std::optional<message_t> ask(const message_t& message,
                                 std::chrono::milliseconds timeout = 2000ms);
    // Reboots to a bank and waits for its last boot report.
    void boot_to(std::uint8_t bank);

    std::filesystem::path dir_;
    OutputCapture output_;
    std::unique_ptr<sim_unit> unit_;
    std::unique_ptr<pc_port> pc_;
};
