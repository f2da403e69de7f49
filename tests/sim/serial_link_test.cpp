// The program's serial link over a real pseudo-terminal: its frames on the wire, the unit's
// frames through the receiver to its listener, and the ends of a port that is missing or goes
// away.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "link/comm_error.h"
#include "link/frame.h"
#include "link/serial_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "protocol/answers.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/senders.h"
#include "protocol/unit.h"
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

// Messages a link's receiver handed on, and its failure, collected across threads.
class collecting_listener final : public link_listener {
public:
    void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t,
                    std::uint8_t, std::uint8_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.emplace_back(message, message + length + 5);
    }
    void on_failure(const result& failure) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = failure;
    }
    int trace_level() const override { return 0; }

    std::size_t seen_count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_.size();
    }
    std::vector<std::vector<std::uint8_t>> seen() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    std::optional<result> failure() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> seen_;
    std::optional<result> failure_;
};

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

}  // namespace

TEST(SerialLinkTest, FramesOfSendMessageArriveIntactOnTheLine) {
    raw_pty line;
    CSerialPort port(make_serial_device());
    ASSERT_TRUE(port.serial_configure("COM9", line.slave_path()));
    const dl_data_buffer block = start_block_buffer();
    const request_templates requests = start_request_templates();
    std::vector<std::uint8_t> dl_data(block.message(), block.message() + 522);
    for (std::size_t k = 10; k < dl_data.size(); ++k) {
        dl_data[k] = static_cast<std::uint8_t>(k * 7);  // every byte value, 0x11 and 0x13 too
    }
    ASSERT_TRUE(port.Send_Message(dl_data.data(), dl_data.size(), 0, false));
    ASSERT_TRUE(port.Send_Message(requests.bootinfo_req.data(), 7, 0, false));
    auto expected = frame_of(dl_data);
    const auto second = serial_frame(requests.bootinfo_req.data(), 7);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(line.take(expected.size()), expected);
    EXPECT_TRUE(port.close());
}

TEST(SerialLinkTest, TheUnitsFramesReachTheListenerWhateverSurroundsThem) {
    raw_pty line;
    serial_unit_link link;
    ASSERT_TRUE(link.open("COM9", line.slave_path()));
    collecting_listener listener;
    OutputCapture out;
    ASSERT_TRUE(link.start(listener));

    const auto ack1 = loader_message(0x1A, {1});
    const auto ack2 = loader_message(0x1A, {2});
    // Garbage, a lone sync byte and a sync byte pair that is not followed by a frame's length.
    auto garbage = std::vector<std::uint8_t>{0x00, 0x10, 0x55, 0x52, 0x53, 0x10};
    auto bytes = garbage;
    const auto f1 = frame_of(ack1);
    bytes.insert(bytes.end(), f1.begin(), f1.end());
    line.send(bytes);
    ASSERT_TRUE(eventually([&] { return listener.seen_count() == 1; }));

    // Split across reads.
    const auto f2 = frame_of(ack2);
    line.send({f2.begin(), f2.begin() + 5});
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(listener.seen_count(), 1u);
    line.send({f2.begin() + 5, f2.end()});
    ASSERT_TRUE(eventually([&] { return listener.seen_count() == 2; }));

    // Two back to back.
    auto pair = frame_of(ack1);
    pair.insert(pair.end(), f2.begin(), f2.end());
    line.send(pair);
    ASSERT_TRUE(eventually([&] { return listener.seen_count() == 4; }));
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
    ASSERT_TRUE(eventually([&] { return listener.seen_count() == 6; }));
    ASSERT_TRUE(link.stop(5000));
    const std::string text = out.text();
    EXPECT_NE(text.find(" OK \n"), std::string::npos) << text;
    EXPECT_NE(text.find(" Failed \n"), std::string::npos) << text;
    EXPECT_EQ(link.crc_errors(), 2);

    const std::vector<std::vector<std::uint8_t>> expected = {ack1, ack2, ack1, ack2, ack2, ack1};
    EXPECT_EQ(listener.seen(), expected);
    EXPECT_FALSE(listener.failure());
}

TEST(SerialLinkTest, AMissingPortFailsWithCode8) {
    serial_unit_link link;
    const result opened = link.open("COM250", serial_device_name(250));  // no COM250 here
    EXPECT_EQ(opened.kind, result_kind::link_failed);
    EXPECT_EQ(opened.code, 8);
    EXPECT_EQ(opened.message.rfind("Serial port COM250: cannot open the port (error 8): ", 0), 0u)
        << opened.message;
    EXPECT_NE(opened.system.code, 0u);
    EXPECT_FALSE(opened.system.text.empty());
}

TEST(SerialLinkTest, APortInUseIsRefused) {
    raw_pty line;
    CSerialPort first(make_serial_device());
    ASSERT_TRUE(first.serial_configure("COM9", line.slave_path()));
    CSerialPort second(make_serial_device());
    EXPECT_EQ(second.serial_configure("COM9", line.slave_path()).code, 8);
    EXPECT_TRUE(first.close());
}

// A pulled cable: the receiver hands the failure on at once, as an answer of the session's
// queue, and takes in nothing more.
TEST(SerialLinkTest, APortThatGoesAwayArrivesPromptlyAsAnAnswer) {
    raw_pty line;
    serial_unit_link link;
    ASSERT_TRUE(link.open("COM9", line.slave_path()));
    answer_inbox inbox;
    ASSERT_TRUE(link.start(inbox));
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    line.hang_up();
    inbox.queue().wait(3000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    const std::vector<answer> answers = inbox.queue().take_all();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].kind, answer_kind::link_failed);
    EXPECT_EQ(answers[0].failure.code, comm_clear_error_failed);
    EXPECT_TRUE(link.stop(5000));
}

// A unit over the real serial link, with the answers coming through its inbox as in a run.
TEST(SerialLinkTest, TalksToTheSimulatedUnit) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("kestrel-link-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    sim_unit_options options;
    options.link_dir = folder;
    options.port = 4;
    options.boot_delay = 20ms;
    options.faults.corrupt_probability = 0.02;  // a few checksum errors on the way
    options.seed = 7;
    sim_unit sim(options);
    sim.start();
    serial_unit_link link;
    ASSERT_TRUE(link.open("COM4", sim.link_path().string()));
    unit u(link);
    OutputCapture out;
    ASSERT_TRUE(link.start(u.inbox));
    const auto answered = [&u](const std::function<bool()>& done) {
        return eventually([&] {
            take_answers(u);
            return done();
        }, 1s);
    };

    ASSERT_TRUE(purge_link(u));
    // Keep asking until a clean answer comes through the noise.
    int answers = 0;
    for (int round = 0; round < 30 && answers < 10; ++round) {
        u.op.boot_status = 0;
        send_boot_info_request(u);
        if (answered([&u] { return u.op.boot_status != 0; })) {
            ++answers;
            EXPECT_EQ(u.op.current_bank, 1);
        }
    }
    EXPECT_EQ(answers, 10);
    sim.set_faults({});
    send_flash_info_request(u);
    ASSERT_TRUE(answered([&u] { return u.op.flash_info_done.test(); }));
    take_bank_reports(u);
    EXPECT_EQ(u.banks[2].software.flash_address, 0x87200000u);
    EXPECT_EQ(u.banks[2].software.status, 0u);
    EXPECT_GT(link.crc_errors(), 0);

    send_keep_alive(u);
    EXPECT_TRUE(sim.wait_until([](const sim_view& v) { return v.keep_alives == 1; }, 2s));
    const auto got = sim.received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().kind, received_kind::raw_byte);  // the purge's '#'
    EXPECT_TRUE(link.stop(5000));
    EXPECT_FALSE(u.link_failure);
    sim.stop();
    std::filesystem::remove_all(folder);
}
