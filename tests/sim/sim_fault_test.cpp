// The simulated unit's injected faults, seen from the PC's side of a real pseudo-terminal.
#include "tools/unit_sim/sim_unit.h"

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"
#include "sim_harness.h"

class SimFaults : public SimTest {};

TEST_F(SimFaults, CorruptedAnswersFailThePcsChecksum) {
    sim_unit_options options = test_options();
    options.faults.corrupt_probability = 1.0;
    start(options);
    const int errors_before = pc_->crc_errors();
    pc_->send(request(sub_code::BOOTINFO_REQ));
    EXPECT_FALSE(pc_->receive(300ms)) << "a corrupted answer must not get through";
    EXPECT_EQ(pc_->crc_errors(), errors_before + 1);
    // The frame is still found whole: its trailer stands in place.
    EXPECT_NE(output_.text().find("CRC error"), std::string::npos);
    EXPECT_NE(output_.text().find(" OK "), std::string::npos);
    EXPECT_EQ(unit_->snapshot().answers_corrupted, 1U);

    unit_->set_faults({});
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
}

TEST_F(SimFaults, RandomFaultsFollowTheSeed) {
    const auto pattern = [this](std::uint64_t seed) {
        sim_unit_options options = test_options();
        options.pacing = false;
        options.seed = seed;
        options.faults.drop_probability = 0.5;
        unit_ = std::make_unique<sim_unit>(options);
        unit_->start();
        pc_ = std::make_unique<pc_port>(unit_->link_path());
        std::string got;
        for (int i = 0; i < 24; ++i) {
            got += ask(request(sub_code::BOOTINFO_REQ), 60ms) ? '+' : '-';
        }
        pc_.reset();
        unit_.reset();
        return got;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(first.find('+'), std::string::npos);
    EXPECT_NE(first.find('-'), std::string::npos);
}

TEST_F(SimFaults, DlFailAtChunkOne) {
    sim_unit_options options = test_options();
    options.faults.dl_fail_at_chunk = 1;
    start(options);
    boot_to(0);
    const std::vector<std::uint8_t> file(1100, 0x3C);
    ask(request(sub_code::DL_REQ));
    ask(firmware_info(file_type_fpga, 3, file, crc32_file(file.data(), file.size(), 0xFFFFFFFFU)));
    EXPECT_TRUE(is_answer(ask(dl_data(file, 0)), sub_code::DL_ACK));
    const auto failed = ask(dl_data(file, 1));
    ASSERT_TRUE(is_answer(failed, sub_code::DL_FAIL));
    EXPECT_EQ(get_be16(failed->data() + dl_ack_at::p1), 1);
    EXPECT_TRUE(is_answer(ask(dl_data(file, 2)), sub_code::DL_FAIL)) << "the download is over";
    EXPECT_FALSE(unit_->memory().banks[3].fpga.valid());
}

TEST_F(SimFaults, FileFailedOnEveryRequest) {
    sim_unit_options options = test_options();
    options.faults.file_failed = true;
    start(options);
    boot_to(0);
    for (std::uint16_t block = 0; block < 2; ++block) {
        const auto answer = ask(file_request(1, file_type_software, 512, block));
        ASSERT_TRUE(is_answer(answer, sub_code::FILE_FAILED));
        EXPECT_EQ((*answer)[file_failed_at::error],
                  static_cast<std::uint8_t>(file_error::injected));
        EXPECT_EQ((*answer)[file_failed_at::type], file_type_software);
        EXPECT_EQ((*answer)[file_failed_at::number], block);
    }
}

TEST_F(SimFaults, WrongBlockNumberOnce) {
    sim_unit_options options = test_options();
    options.faults.wrong_block_once = true;
    start(options);
    boot_to(0);
    const std::vector<std::uint8_t> content = unit_->memory().banks[1].fpga.content;
    const auto wrong = ask(file_request(1, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(wrong, sub_code::FILE_ACK));
    EXPECT_EQ(get_be16(wrong->data() + file_ack_at::block_number), 1);
    const auto right = ask(file_request(1, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(right, sub_code::FILE_ACK));
    EXPECT_EQ(get_be16(right->data() + file_ack_at::block_number), 0);
    EXPECT_TRUE(std::equal(content.begin(), content.begin() + 512,
                           right->begin() + file_ack_at::data));
}

TEST_F(SimFaults, SilentUnitAnswersNothingButListens) {
    sim_unit_options options = test_options();
    options.faults.silent = true;
    start(options);
    pc_->send(request(sub_code::BOOTINFO_REQ));
    pc_->send(reboot_request(2));
    pc_->send(request(sub_code::KEEP_ALIVE));
    EXPECT_TRUE(pc_->quiet_for(300ms));
    const sim_view view = unit_->snapshot();
    EXPECT_EQ(received_count(view, sub_code::BOOTINFO_REQ), 1U);
    EXPECT_EQ(view.keep_alives, 1U);
    EXPECT_EQ(view.current_bank, 2) << "it still boots";
    EXPECT_EQ(view.answers_sent, 0U);
    EXPECT_EQ(view.answers_dropped, 3U);  // BOOTINFO_ACK and two boot reports
}
