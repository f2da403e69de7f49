// The program's serial link over a real pseudo-terminal: its frames on the wire, the unit's
// frames through the receiver into the dispatcher, and the ends of a port that is missing or
// goes away.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "link/comm_error.h"
#include "link/frame.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "protocol/bank_records.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "support/capture.h"
#include "tools/unit_sim/sim_unit.h"

using namespace std::chrono_literals;

namespace {

// A pseudo-terminal whose far end the test drives byte by byte.
class raw_pty {
public:
    raw_pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave_path_ = ptsname(master_);
        // Keeps the line up (and raw) while the port under test opens and closes.
        keeper_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(keeper_, &t);
        cfmakeraw(&t);
        tcsetattr(keeper_, TCSANOW, &t);
    }
    ~raw_pty() { hang_up(); }
    void hang_up() {
        for (int* fd : {&keeper_, &master_}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
    }
    void send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads what the port wrote, until `count` bytes have come or a second has passed.
    std::vector<std::uint8_t> take(std::size_t count) {
        std::vector<std::uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + 1s;
        fcntl(master_, F_SETFL, O_NONBLOCK);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::uint8_t buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        return got;
    }
    const std::string& slave_path() const { return slave_path_; }

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slave_path_;
};

std::vector<std::uint8_t> loader_message(std::uint8_t sub, std::vector<std::uint8_t> params) {
    std::vector<std::uint8_t> m = {unit_address, pc_address, 0, 0, cmd_loader, sub};
    m.insert(m.end(), params.begin(), params.end());
    m[2] = static_cast<std::uint8_t>((m.size() - 5) >> 8);
    m[3] = static_cast<std::uint8_t>(m.size() - 5);
    return m;
}

std::vector<std::uint8_t> frame_of(const std::vector<std::uint8_t>& m) {
    return serial_frame(m.data(), m.size());
}

// Messages the receiver handed on, collected across threads.
std::mutex seen_mutex;
std::vector<std::vector<std::uint8_t>> seen;
void remember(const std::uint8_t* message, std::uint16_t length, std::uint8_t, std::uint8_t,
              std::uint8_t) {
    std::lock_guard<std::mutex> lock(seen_mutex);
    seen.emplace_back(message, message + length + 5);
}
std::size_t seen_count() {
    std::lock_guard<std::mutex> lock(seen_mutex);
    return seen.size();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_link_mode();
        serial_link = 1;
        loader_mode = 1;
        reset_firmware_operation();
        reset_request_templates();
        set_bank_start_values();
        reset_bank_reports();
        set_message_handler(&ExecuteCommand);  // as start-up hands it to the receiver
        rx_fill = 0;
        std::lock_guard<std::mutex> lock(seen_mutex);
        seen.clear();
    }
    void TearDown() override {
        stop();
        set_message_handler(nullptr);
        serial_close();
        reset_link_mode();
    }
    // The program's receiver loop on a thread of its own, as in a run.
    void run_receiver() {
        stop_receiver = 0;
        receiver = std::thread([] {
            try {
                while (stop_receiver.load() == 0) {
                    serial_receiver_pass();
                }
            } catch (const ECommError& e) {
                std::lock_guard<std::mutex> lock(seen_mutex);
                receiver_error = e.code;
            }
        });
    }
    void stop() {
        stop_receiver = 1;
        if (receiver.joinable()) {
            receiver.join();
        }
    }
    std::thread receiver;
    static inline int receiver_error = 0;
};

}  // namespace

TEST_F(SerialLinkTest, FramesOfSendMessageArriveIntactOnTheLine) {
    raw_pty line;
    CSerialPort port(make_serial_device());
    port.serial_configure("COM9", line.slave_path());
    std::vector<std::uint8_t> dl_data(block_buffer.message(), block_buffer.message() + 522);
    for (std::size_t k = 10; k < dl_data.size(); ++k) {
        dl_data[k] = static_cast<std::uint8_t>(k * 7);  // every byte value, 0x11 and 0x13 too
    }
    ASSERT_EQ(port.Send_Message(dl_data.data(), dl_data.size(), 0), 0);
    ASSERT_EQ(port.Send_Message(requests.bootinfo_req.data(), 7, 0), 0);
    auto expected = frame_of(dl_data);
    const auto second = serial_frame(requests.bootinfo_req.data(), 7);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(line.take(expected.size()), expected);
    port.close();
}

TEST_F(SerialLinkTest, TheUnitsFramesReachTheDispatcherWhateverSurroundsThem) {
    raw_pty line;
    ASSERT_NO_THROW(serial_port.store(new CSerialPort(make_serial_device())));
    serial_port.load()->serial_configure("COM9", line.slave_path());
    set_message_handler(&remember);
    OutputCapture out;
    run_receiver();

    const auto ack1 = loader_message(0x1A, {1});
    const auto ack2 = loader_message(0x1A, {2});
    // Garbage, a lone sync byte and a sync byte pair that is not followed by a frame's length.
    auto garbage = std::vector<std::uint8_t>{0x00, 0x10, 0x55, 0x52, 0x53, 0x10};
    auto bytes = garbage;
    const auto f1 = frame_of(ack1);
    bytes.insert(bytes.end(), f1.begin(), f1.end());
    line.send(bytes);
    ASSERT_TRUE(eventually([] { return seen_count() == 1; }));

    // Split across reads.
    const auto f2 = frame_of(ack2);
    line.send({f2.begin(), f2.begin() + 5});
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(seen_count(), 1u);
    line.send({f2.begin() + 5, f2.end()});
    ASSERT_TRUE(eventually([] { return seen_count() == 2; }));

    // Two back to back.
    auto pair = frame_of(ack1);
    pair.insert(pair.end(), f2.begin(), f2.end());
    line.send(pair);
    ASSERT_TRUE(eventually([] { return seen_count() == 4; }));
    EXPECT_NE(out.text().find("MOVING 12 BYTES \n"), std::string::npos) << out.text();

    // A checksum error with the trailer in place loses that frame only; one without the trailer
    // loses a byte and the search goes on to the next frame.
    auto bad = frame_of(ack1);
    bad[9] ^= 0x01;
    auto broken = frame_of(ack2);
    broken[9] ^= 0x01;
    broken[10] = 0x00;
    std::vector<std::uint8_t> mixed = bad;
    mixed.insert(mixed.end(), f2.begin(), f2.end());
    mixed.insert(mixed.end(), broken.begin(), broken.end());
    mixed.insert(mixed.end(), f1.begin(), f1.end());
    line.send(mixed);
    ASSERT_TRUE(eventually([] { return seen_count() == 6; }));
    stop();
    const std::string text = out.text();
    EXPECT_NE(text.find(" OK \n"), std::string::npos) << text;
    EXPECT_NE(text.find(" Failed \n"), std::string::npos) << text;

    std::lock_guard<std::mutex> lock(seen_mutex);
    const std::vector<std::vector<std::uint8_t>> expected = {ack1, ack2, ack1, ack2, ack2, ack1};
    EXPECT_EQ(seen, expected);
}

TEST_F(SerialLinkTest, AMissingPortEndsWithCode8) {
    try {
        serial_open(250);  // no COM250 here, and no /dev/ttyS249
        FAIL() << "opened a port that does not exist";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.code, 8);
        EXPECT_EQ(e.port_name, "COM250");
        EXPECT_NE(e.system_error, 0u);
        EXPECT_FALSE(e.system_text.empty());
    }
    EXPECT_EQ(serial_port.load(), nullptr);
}

TEST_F(SerialLinkTest, APortInUseIsRefused) {
    raw_pty line;
    CSerialPort first(make_serial_device());
    first.serial_configure("COM9", line.slave_path());
    CSerialPort second(make_serial_device());
    try {
        second.serial_configure("COM9", line.slave_path());
        FAIL() << "a second open of the same port succeeded";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.code, 8);
    }
    first.close();
}

TEST_F(SerialLinkTest, APortThatGoesAwayEndsTheReceiverPromptly) {
    raw_pty line;
    serial_port.store(new CSerialPort(make_serial_device()));
    serial_port.load()->serial_configure("COM9", line.slave_path());
    receiver_error = 0;
    run_receiver();
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    line.hang_up();
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> lock(seen_mutex);
        return receiver_error != 0;
    }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(receiver_error, comm_clear_error_failed);
    stop();
}

TEST_F(SerialLinkTest, TalksToTheSimulatedUnit) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("kestrel-link-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    sim_unit_options options;
    options.link_dir = folder;
    options.port = 4;
    options.boot_delay = 20ms;
    options.faults.corrupt_probability = 0.02;  // a few checksum errors on the way
    options.seed = 7;
    sim_unit unit(options);
    unit.start();
    serial_port.store(new CSerialPort(make_serial_device()));
    serial_port.load()->serial_configure("COM4", unit.link_path().string());
    OutputCapture out;
    run_receiver();

    serial_purge();
    // Keep asking until a clean answer comes through the noise.
    int answers = 0;
    for (int round = 0; round < 30 && answers < 10; ++round) {
        firmware_operation.boot_status = 0;
        Send_Message(requests.bootinfo_req.data(), 7, 0);
        if (eventually([] { return firmware_operation.boot_status.load() != 0; }, 1s)) {
            ++answers;
            EXPECT_EQ(firmware_operation.current_bank.load(), 1);
        }
    }
    EXPECT_EQ(answers, 10);
    unit.set_faults({});
    Send_Message(requests.flash_info_req.data(), 7, 0);
    ASSERT_TRUE(eventually([] { return firmware_operation.flash_info_done.test(); }));
    take_bank_reports();
    EXPECT_EQ(banks[2].software.flash_address, 0x87200000u);
    EXPECT_EQ(banks[2].software.status, 0u);

    Send_Message(requests.keep_alive.data(), 7, 0);
    EXPECT_TRUE(unit.wait_until([](const sim_view& v) { return v.keep_alives == 1; }, 2s));
    const auto got = unit.received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().kind, received_kind::raw_byte);  // the purge's '#'
    stop();
    serial_close();
    unit.stop();
    std::filesystem::remove_all(folder);
}
