// The simulated unit over a real pseudo-terminal: connecting and booting.
#include "tools/unit_sim/sim_unit.h"

#include <cstring>

#include "link/byte_order.h"
#include "sim_harness.h"

class SimSession : public SimTest {};

namespace {

std::uint32_t word_at(const message_t& m, std::size_t record, std::size_t field) {
    return get_be32(m.data() + flash_info_at::bank_info + record + field);
}

}  // namespace

TEST_F(SimSession, ConnectAnswersBootInfoThenFlashInfoOfAllBanks) {
    start();
    pc_->send_raw("##");  // what the program sends when it starts
    const auto boot = ask(request(sub_code::BOOTINFO_REQ));
    ASSERT_TRUE(is_answer(boot, sub_code::BOOTINFO_ACK));
    EXPECT_EQ((*boot)[bootinfo_at::bank], 1);
    EXPECT_TRUE(is_answer(ask(request(sub_code::SAFEMODE_REQ)), sub_code::BOOTINFO_ACK));

    pc_->send(request(sub_code::FLASH_INFO_REQ));
    const unit_memory memory = unit_->memory();
    for (std::size_t k = 0; k < 4; ++k) {
        const auto info = pc_->receive();
        ASSERT_TRUE(info) << "FLASH_INFO of bank " << k;
        ASSERT_EQ((*info)[head_sub], 0x15 + k);
        ASSERT_EQ(info->size(), 416U);
        EXPECT_EQ(get_be16(info->data() + head_length), flash_info_at::max_length);
        const std::size_t fpga = offsetof(bank_info, fpga);
        const std::size_t sw = offsetof(bank_info, software);
        EXPECT_EQ(word_at(*info, fpga, offsetof(image_descriptor, flash_address)),
                  0x86000000U + k * 0x800000U);
        EXPECT_EQ(word_at(*info, sw, offsetof(image_descriptor, flash_address)),
                  0x86200000U + k * 0x800000U);
        EXPECT_EQ(word_at(*info, fpga, offsetof(image_descriptor, status)) == 0, k < 3);
        EXPECT_EQ(word_at(*info, sw, offsetof(image_descriptor, size)),
                  memory.banks[k].software.content.size());
        EXPECT_EQ(word_at(*info, fpga, offsetof(image_descriptor, crc)),
                  memory.banks[k].fpga.descriptor.crc);
        const char* user = reinterpret_cast<const char*>(info->data() + flash_info_at::bank_notes +
                                                         offsetof(bank_notes, software));
        EXPECT_STREQ(user, memory.banks[k].software.notes.user);
    }
    const sim_view view = unit_->snapshot();
    EXPECT_EQ(received_count(view, sub_code::FLASH_INFO_REQ), 1U);
    ASSERT_GE(view.received.size(), 2U);
    EXPECT_EQ(view.received[0].kind, received_kind::raw_byte);
    EXPECT_EQ(view.received[0].bytes, std::vector<std::uint8_t>{'#'});
}

TEST_F(SimSession, RebootToAnotherBankPassesThroughTheBootLoader) {
    start();
    const auto sent = std::chrono::steady_clock::now();
    pc_->send(reboot_request(2));
    const auto first = pc_->receive();
    ASSERT_TRUE(is_answer(first, sub_code::BOOTINFO_ACK));
    EXPECT_EQ((*first)[bootinfo_at::bank], 0);
    // Booting, the unit has no loader running: a request now goes unanswered.
    pc_->send(request(sub_code::BOOTINFO_REQ));
    const auto second = pc_->receive();
    ASSERT_TRUE(is_answer(second, sub_code::BOOTINFO_ACK));
    EXPECT_EQ((*second)[bootinfo_at::bank], 2);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 100ms) << "two boot delays of 50 ms";
    EXPECT_TRUE(pc_->quiet_for(150ms));
    EXPECT_EQ(unit_->current_bank(), 2);
    EXPECT_EQ((*ask(request(sub_code::BOOTINFO_REQ)))[bootinfo_at::bank], 2);
}

TEST_F(SimSession, BootToABankWithoutImageFallsBack) {
    start();
    pc_->send(reboot_request(3));
    EXPECT_EQ((*pc_->receive())[bootinfo_at::bank], 0);
    const auto report = pc_->receive();
    ASSERT_TRUE(is_answer(report, sub_code::BOOTINFO_FAIL));
    EXPECT_EQ((*report)[bootinfo_at::bank], 1);
    EXPECT_EQ(unit_->current_bank(), 1);
    const unit_memory memory = unit_->memory();
    EXPECT_NE(memory.log.entries.back().find("boot bank 3 failed, running bank 1"),
              std::string::npos);

    // From the boot loader straight to the bank asked for, one report.
    boot_to(0);
    pc_->send(reboot_request(2));
    const auto direct = pc_->receive();
    ASSERT_TRUE(is_answer(direct, sub_code::BOOTINFO_ACK));
    EXPECT_EQ((*direct)[bootinfo_at::bank], 2);
}

TEST_F(SimSession, BootFaultFallsBackToTheChosenBank) {
    sim_unit_options options = test_options();
    options.faults.boot_fail_to = 1;
    start(options);
    boot_to(0);
    pc_->send(reboot_request(2));
    const auto report = pc_->receive();
    ASSERT_TRUE(is_answer(report, sub_code::BOOTINFO_FAIL));
    EXPECT_EQ((*report)[bootinfo_at::bank], 1);
    EXPECT_EQ(unit_->current_bank(), 1);
}
