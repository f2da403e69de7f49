#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <numeric>

#include "link/frame.h"
#include "link/serial_link.h"
#include "protocol/answers.h"
#include "support/capture.h"
#include "support/fake_serial_device.h"

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { state = std::make_shared<fake_serial_state>(); }
    std::unique_ptr<CSerialPort> open_port() {
        auto port = std::make_unique<CSerialPort>(std::make_unique<fake_serial_device>(state));
        EXPECT_TRUE(port->serial_configure("COM5", "device-5"));
        return port;
    }
    result configure_failure(const std::string& step) {
        state->fail_at = step;
        CSerialPort port(std::make_unique<fake_serial_device>(state));
        const result configured = port.serial_configure("COM5", "device-5");
        EXPECT_FALSE(port.is_open());
        EXPECT_EQ(configured.kind, result_kind::link_failed) << step;
        return configured;
    }
    // One reader pass in loader mode (or in remote access); the size of a frame found.
    std::size_t read(CSerialPort& port, std::span<std::uint8_t> buffer, std::size_t& fill,
                     bool loader_mode = true) {
        std::size_t frame = 0;
        EXPECT_TRUE(port.serial_read(buffer, fill, loader_mode, crc_errors, frame));
        return frame;
    }
    std::shared_ptr<fake_serial_state> state;
    std::atomic<int> crc_errors{0};
};

std::vector<std::uint8_t> message_of(std::size_t n) {
    std::vector<std::uint8_t> m(n);
    std::iota(m.begin(), m.end(), std::uint8_t{1});
    m[0] = 0x2A;
    m[1] = 0x10;
    m[2] = static_cast<std::uint8_t>((n - 5) >> 8);
    m[3] = static_cast<std::uint8_t>(n - 5);
    return m;
}

}  // namespace

TEST_F(SerialPortTest, OpensAt115200With8N1QueuesAndTimeouts) {
    auto port = open_port();
    EXPECT_TRUE(port->is_open());
    EXPECT_EQ(port->port_name(), "COM5");
    EXPECT_EQ(state->opened_name, "device-5");
    const std::vector<std::string> order = {"open", "get_line", "set_line", "setup_queues",
                                            "set_timeouts"};
    EXPECT_EQ(state->calls, order);
    EXPECT_EQ(state->line.baud_rate, 115200u);
    EXPECT_EQ(state->line.byte_size, 8);
    EXPECT_EQ(state->line.parity, 0);
    EXPECT_EQ(state->line.stop_bits, 0);
    EXPECT_EQ(state->receive_queue, 32768u);
    EXPECT_EQ(state->transmit_queue, 9216u);
    EXPECT_EQ(state->timeouts.read_interval, 15u);
    EXPECT_EQ(state->timeouts.read_total_multiplier, 1u);
    EXPECT_EQ(state->timeouts.read_total_constant, 250u);
    EXPECT_EQ(state->timeouts.write_total_multiplier, 1u);
    EXPECT_EQ(state->timeouts.write_total_constant, 250u);

    // A second configuration of an open port changes nothing.
    EXPECT_TRUE(port->serial_configure("COM6", "device-6"));
    EXPECT_EQ(state->calls.size(), order.size());
    EXPECT_EQ(port->port_name(), "COM5");
}

TEST_F(SerialPortTest, EachFailedOpeningStepReturnsItsCodeAndClosesTheHandle) {
    const std::pair<const char*, int> steps[] = {
        {"get_line", 14}, {"set_line", 15}, {"setup_queues", 16}, {"set_timeouts", 17}};
    for (const auto& [step, code] : steps) {
        state = std::make_shared<fake_serial_state>();
        const result e = configure_failure(step);
        EXPECT_EQ(e.code, code) << step;
        EXPECT_EQ(e.system.code, 31u) << step;
        EXPECT_EQ(e.system.text, std::string("fake ") + step + " failure");
        EXPECT_EQ(e.message.rfind("Serial port COM5: ", 0), 0u) << e.message;
        EXPECT_EQ(state->calls.back(), "close") << step;
        EXPECT_FALSE(state->open) << step;
    }
    state = std::make_shared<fake_serial_state>();
    const result e = configure_failure("open");
    EXPECT_EQ(e.code, 8);
    EXPECT_EQ(state->calls, std::vector<std::string>{"open"});
}

TEST_F(SerialPortTest, FramesLeaveInPiecesWithTheTrailerWrittenApart) {
    auto port = open_port();
    const auto dl_data = message_of(522);
    ASSERT_TRUE(port->Send_Message(dl_data.data(), dl_data.size(), 0, false));
    EXPECT_EQ(state->write_sizes(), (std::vector<std::size_t>{100, 100, 100, 100, 100, 24, 3}));
    EXPECT_EQ(state->written_bytes(), serial_frame(dl_data.data(), dl_data.size()));

    state->writes.clear();
    ASSERT_TRUE(port->Send_Message(dl_data.data(), dl_data.size(), 0, true));
    std::vector<std::size_t> small(32, 16);
    small.push_back(12);
    small.push_back(3);
    EXPECT_EQ(state->write_sizes(), small);
    EXPECT_EQ(state->written_bytes(), serial_frame(dl_data.data(), dl_data.size()));
}

TEST_F(SerialPortTest, MessagesLongerThan2046BytesAreRefusedUnsent) {
    auto port = open_port();
    const auto largest = message_of(2046);
    OutputCapture out;
    EXPECT_TRUE(port->Send_Message(largest.data(), largest.size(), 9, false));
    EXPECT_EQ(state->written_bytes().size(), 2051u);
    state->writes.clear();
    out.take();
    const auto too_long = message_of(2047);
    EXPECT_EQ(port->Send_Message(too_long.data(), too_long.size(), 9, false).kind,
              result_kind::refused);
    EXPECT_TRUE(state->writes.empty());
    EXPECT_EQ(out.text(), "");
}

TEST_F(SerialPortTest, SendTraceAboveLevel5) {
    auto port = open_port();
    const std::vector<std::uint8_t> bootinfo_req = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x19, 0x00};
    OutputCapture out;
    port->Send_Message(bootinfo_req.data(), bootinfo_req.size(), 5, false);
    EXPECT_EQ(out.take(), "");
    port->Send_Message(bootinfo_req.data(), bootinfo_req.size(), 6, false);
    EXPECT_EQ(out.take(), "\nSend_Message Lenght 12 (CMD 55 SUB 19 P1  0)\n");
}

TEST_F(SerialPortTest, WritesOnAClosedOrFailingPortFail) {
    auto port = open_port();
    state->fail_at = "write";
    const result failed_write = port->serial_write_byte('x');
    EXPECT_EQ(failed_write.kind, result_kind::link_failed);
    EXPECT_EQ(failed_write.code, 9);
    state->fail_at.clear();
    EXPECT_TRUE(port->close());
    EXPECT_FALSE(state->open);
    const auto m = message_of(7);
    const result closed = port->Send_Message(m.data(), m.size(), 0, false);
    EXPECT_EQ(closed.code, 7);
    EXPECT_EQ(closed.message, "Serial port COM5: the port is not open (error 7)");
}

TEST_F(SerialPortTest, PurgeAsksForInterruptModeOnlyInLoaderMode) {
    serial_unit_link link(std::make_unique<fake_serial_device>(state));
    ASSERT_TRUE(link.open("COM5", "device-5"));
    state->receive({1, 2, 3});
    state->calls.clear();
    link.set_mode(line_mode::remote_access);
    EXPECT_TRUE(link.purge());
    EXPECT_TRUE(state->calls.empty());
    EXPECT_EQ(state->incoming.size(), 3u);

    link.set_mode(line_mode::loader);
    EXPECT_TRUE(link.purge());
    EXPECT_EQ(state->calls, (std::vector<std::string>{"purge_input", "write", "write"}));
    EXPECT_EQ(state->written_bytes(), (std::vector<std::uint8_t>{'#', '#'}));
    EXPECT_TRUE(state->incoming.empty());
}

TEST_F(SerialPortTest, ReaderDrainsTheDriverAndFindsFramesAcrossPasses) {
    auto port = open_port();
    const auto m = message_of(12);
    const auto frame = serial_frame(m.data(), m.size());
    std::vector<std::uint8_t> buffer(64);
    std::size_t fill = 0;
    state->receive({0x55, 0x66});  // noise before the frame
    state->receive(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 7));
    EXPECT_EQ(read(*port, buffer, fill), 0u);
    EXPECT_EQ(fill, 9u);
    state->receive(std::vector<std::uint8_t>(frame.begin() + 7, frame.end()));
    EXPECT_EQ(read(*port, buffer, fill), 0u);  // the frame completes during this pass
    EXPECT_EQ(read(*port, buffer, fill), frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buffer.begin()));
}

TEST_F(SerialPortTest, AFullBufferNeitherOverrunsNorStalls) {
    auto port = open_port();
    std::vector<std::uint8_t> storage(40, 0xEE);
    const std::span<std::uint8_t> buffer(storage.data(), 32);
    std::size_t fill = 0;
    state->receive(std::vector<std::uint8_t>(50, 0x10));
    read(*port, buffer, fill);  // resynchronisation keeps one byte, then 32 are read
    EXPECT_EQ(fill, 32u);
    EXPECT_EQ(state->incoming.size(), 18u);
    // The buffer stays full: the pass returns without reading, and nothing past it is touched.
    std::size_t reads_before = std::count(state->calls.begin(), state->calls.end(), "read");
    fill = 32;
    OutputCapture out;  // remote access prints and empties the buffer first
    read(*port, buffer, fill, false);
    EXPECT_EQ(out.text().size(), 32u);
    EXPECT_EQ(fill, 18u);
    EXPECT_GT(std::count(state->calls.begin(), state->calls.end(), "read"),
              static_cast<long>(reads_before));
    for (std::size_t k = 32; k < storage.size(); ++k) {
        EXPECT_EQ(storage[k], 0xEE) << k;
    }
}

TEST_F(SerialPortTest, RemoteAccessEchoesEveryByteAndDeliversNoFrame) {
    auto port = open_port();
    const auto m = message_of(7);
    const auto frame = serial_frame(m.data(), m.size());
    std::vector<std::uint8_t> buffer(64);
    std::size_t fill = 0;
    state->receive(frame);
    OutputCapture out;
    EXPECT_EQ(read(*port, buffer, fill, false), 0u);  // drains
    EXPECT_EQ(read(*port, buffer, fill, false), 0u);  // echoes
    EXPECT_EQ(fill, 0u);
    EXPECT_EQ(out.text(), std::string(frame.begin(), frame.end()));
}

TEST_F(SerialPortTest, AVanishedOrFailingDeviceFailsTheRead) {
    auto port = open_port();
    std::vector<std::uint8_t> buffer(64);
    std::size_t fill = 0;
    std::size_t frame = 0;
    state->gone = true;
    const result gone = port->serial_read(buffer, fill, true, crc_errors, frame);
    EXPECT_EQ(gone.code, 18);
    EXPECT_EQ(gone.system.text, "device gone");
    state->gone = false;
    state->receive({1, 2});
    state->fail_at = "read";
    EXPECT_EQ(port->serial_read(buffer, fill, true, crc_errors, frame).code, 10);
}

TEST(CommError, OneClearLineNamesPortFailureAndSystemText) {
    EXPECT_EQ(comm_failure(8, os_error{2, "No such file or directory"}, "COM3").message,
              "Serial port COM3: cannot open the port (error 8): No such file or directory "
              "(system error 2)");
    EXPECT_EQ(comm_failure(7, {}, "COM4").message,
              "Serial port COM4: the port is not open (error 7)");
}

namespace {
// What a receiver hands on: the messages, and a failure of the link.
struct recording_listener final : link_listener {
    void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                    std::uint8_t cmd, std::uint8_t sub) override {
        EXPECT_EQ(sa, message[1]);
        EXPECT_EQ(cmd, message[4]);
        EXPECT_EQ(sub, message[5]);
        messages.emplace_back(message, message + length + 5);
    }
    void on_failure(const result& failure) override { ADD_FAILURE() << failure.message; }
    int trace_level() const override { return 0; }

    std::vector<std::vector<std::uint8_t>> messages;
};
}  // namespace

TEST_F(SerialPortTest, TheReceiverHandsOnEachFrameIntactThenRemovesIt) {
    serial_unit_link link(std::make_unique<fake_serial_device>(state));
    ASSERT_TRUE(link.open("COM3", "device-3"));
    recording_listener listener;
    const auto a = message_of(9);
    auto b = message_of(11);
    b[5] = 0x77;
    auto both = serial_frame(a.data(), a.size());
    const auto fb = serial_frame(b.data(), b.size());
    both.insert(both.end(), fb.begin(), fb.end());
    state->receive(both);
    OutputCapture out;
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_TRUE(link.receive_pass(listener));
    }
    ASSERT_EQ(listener.messages.size(), 2u);
    EXPECT_EQ(listener.messages[0], a);
    EXPECT_EQ(listener.messages[1], b);
    EXPECT_EQ(out.text(), "MOVING 16 BYTES \n");
    EXPECT_EQ(link.crc_errors(), 0);
}

// A port that goes away while the receiver thread reads it: the failure reaches the session's
// queue as an answer of its own, the receiver's last word.
TEST_F(SerialPortTest, APortThatFailsOnTheReceiverThreadArrivesAsAnAnswer) {
    serial_unit_link link(std::make_unique<fake_serial_device>(state));
    ASSERT_TRUE(link.open("COM3", "device-3"));
    state->gone = true;
    answer_inbox inbox;
    ASSERT_TRUE(link.start(inbox));
    inbox.queue().wait(5000);
    EXPECT_TRUE(link.stop(5000));
    const std::vector<answer> answers = inbox.queue().take_all();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].kind, answer_kind::link_failed);
    EXPECT_EQ(answers[0].failure.kind, result_kind::link_failed);
    EXPECT_EQ(answers[0].failure.message.rfind("Serial port COM3: the port stopped answering", 0),
              0u)
        << answers[0].failure.message;
}
