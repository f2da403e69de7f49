// The simulated unit's line: pacing, the two line modes, its links and a port that goes away.
#include "tools/unit_sim/sim_unit.h"

#include <fstream>
#include <unistd.h>

#include "link/crc.h"
#include "sim_harness.h"

class SimLine : public SimTest {};

namespace fs = std::filesystem;

TEST_F(SimLine, PacedFrameIsAnsweredOnlyAfterItHasCrossedTheLine) {
    start();
    boot_to(0);
    const std::vector<std::uint8_t> file(600, 0x11);
    ask(request(sub_code::DL_REQ));
    ask(firmware_info(file_type_fpga, 3, file, crc32_file(file.data(), file.size(), 0xFFFFFFFFU)));
    // 532 frame bytes in, 15 answer bytes out, ten bit times each at 115200 baud: 47.5 ms.
    const auto sent = std::chrono::steady_clock::now();
    const auto ack = ask(dl_data(file, 0));
    const auto took = std::chrono::steady_clock::now() - sent;
    ASSERT_TRUE(is_answer(ack, sub_code::DL_ACK));
    EXPECT_GE(took, 45ms);
    const sim_view view = unit_->snapshot();
    const received_item* chunk = last_received(view, sub_code::DL_DATA);
    const received_item* info = last_received(view, sub_code::FIRMWARE_INFO);
    ASSERT_TRUE(chunk != nullptr && info != nullptr);
    EXPECT_GE(chunk->time_ms - info->time_ms, 45.0) << "arrival stamped at line rate";
}

TEST_F(SimLine, PollingModeEchoesUntilTwoHashes) {
    start();
    pc_->send(request(sub_code::LOADER_EXIT));
    pc_->send(request(sub_code::LOADER_EXIT));
    pc_->send_raw("R");
    const std::string greeting = pc_->read_text(200, 500ms);
    EXPECT_NE(greeting.find(terminal_prompt), std::string::npos);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.mode == unit_mode::polling; },
                                  1000ms));

    pc_->send_raw("abc\r");
    EXPECT_EQ(pc_->read_text(5 + std::strlen(terminal_prompt)),
              std::string("abc\r\n") + terminal_prompt);
    // A frame is just more text here.
    pc_->send(request(sub_code::BOOTINFO_REQ));
    EXPECT_EQ(pc_->read_text(12).size(), 12U);

    pc_->send_raw("##");
    ASSERT_TRUE(unit_->wait_until([](const sim_view& v) { return v.mode == unit_mode::framed; },
                                  1000ms));
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
    const sim_view view = unit_->snapshot();
    EXPECT_EQ(view.loader_exits, 2U);
}

TEST_F(SimLine, RawRWithoutTwoLoaderExitsStaysFramed) {
    start();
    pc_->send(request(sub_code::LOADER_EXIT));
    pc_->send(request(sub_code::KEEP_ALIVE));
    pc_->send(request(sub_code::LOADER_EXIT));
    pc_->send_raw("R#");
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
    EXPECT_EQ(unit_->mode(), unit_mode::framed);
}

TEST_F(SimLine, DisconnectBreaksTheProgramsPort) {
    start();
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
    unit_->disconnect();
    EXPECT_FALSE(fs::exists(fs::symlink_status(unit_->link_path())));
    EXPECT_TRUE(pc_->breaks_within(1000ms));
    EXPECT_FALSE(unit_->snapshot().port_open);
}

TEST_F(SimLine, LinksAreMadeAndRemoved) {
    const fs::path prefix = dir_ / "prefix";
    fs::create_directories(prefix / "dosdevices");
    sim_unit_options options = test_options();
    options.port = 5;
    options.wine_prefix = prefix;
    start(options);
    EXPECT_EQ(unit_->link_path(), dir_ / "COM5");
    EXPECT_EQ(fs::read_symlink(dir_ / "COM5"), fs::path(unit_->pty_path()));
    EXPECT_EQ(fs::read_symlink(prefix / "dosdevices" / "com5"), fs::path(unit_->pty_path()));
    pc_.reset();
    unit_->stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM5")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(prefix / "dosdevices" / "com5")));
}

TEST_F(SimLine, ARealFileInTheWayIsNeverTouched) {
    const fs::path blocker = dir_ / "COM3";
    std::ofstream(blocker) << "keep me";
    sim_unit unit(test_options());
    try {
        unit.start();
        FAIL() << "started over a real file";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("not a symbolic link"), std::string::npos);
    }
    std::ifstream in(blocker);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");

    // A link to something that exists is someone else's port; one that leads nowhere is stale.
    fs::remove(blocker);
    fs::create_symlink(dir_ / "elsewhere", blocker);
    std::ofstream(dir_ / "elsewhere") << "x";
    EXPECT_THROW(sim_unit(test_options()).start(), std::runtime_error);
    fs::remove(dir_ / "elsewhere");
    start();
    EXPECT_EQ(fs::read_symlink(blocker), fs::path(unit_->pty_path()));
}
