// The simulated unit over a real pseudo-terminal: downloads, uploads, EEPROMs and the log.
#include "tools/unit_sim/sim_unit.h"

#include <cstring>

#include "link/byte_order.h"
#include "link/crc.h"
#include "sim_harness.h"

class SimTransfer : public SimTest {};

namespace {

std::vector<std::uint8_t> test_file(std::size_t size) {
    std::vector<std::uint8_t> file(size);
    for (std::size_t i = 0; i < size; ++i) {
        file[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
    }
    return file;
}

std::uint32_t crc_of(const std::vector<std::uint8_t>& data) {
    return crc32_file(data.data(), data.size(), 0xFFFFFFFFU);
}

}  // namespace

TEST_F(SimTransfer, DownloadToBank3IsStoredAndReported) {
    start();
    const std::vector<std::uint8_t> file = test_file(1300);

    // Running bank 1, the unit boots its loader first and then says it is ready.
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(is_answer(ask(request(sub_code::DL_REQ)), sub_code::DL_READY));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 50ms) << "one boot delay";
    EXPECT_EQ(unit_->current_bank(), 0);

    ASSERT_TRUE(is_answer(ask(firmware_info(file_type_fpga, 3, file, crc_of(file))),
                          sub_code::FIRMWARE_INFO_ACK));
    for (std::uint16_t chunk = 0; chunk < 3; ++chunk) {
        const message_t data = dl_data(file, chunk);
        ASSERT_EQ(data.size(), 522U);
        const auto ack = ask(data);
        ASSERT_TRUE(is_answer(ack, sub_code::DL_ACK)) << "chunk " << chunk;
        EXPECT_EQ(get_be16(ack->data() + dl_ack_at::p1), chunk);
    }
    const stored_image image = unit_->memory().banks[3].fpga;
    EXPECT_TRUE(image.valid());
    EXPECT_EQ(image.content, file);
    EXPECT_EQ(image.descriptor.crc, crc_of(file));
    EXPECT_STREQ(image.descriptor.file_name, "test_image.bin");

    pc_->send(request(sub_code::FLASH_INFO_REQ));
    std::optional<message_t> info;
    for (int k = 0; k < 4; ++k) {
        info = pc_->receive();
        ASSERT_TRUE(info);
    }
    ASSERT_EQ((*info)[head_sub], 0x18);
    const std::uint8_t* fpga = info->data() + flash_info_at::bank_info;
    EXPECT_EQ(get_be32(fpga + offsetof(image_descriptor, status)), 0U);
    EXPECT_EQ(get_be32(fpga + offsetof(image_descriptor, size)), 1300U);
    EXPECT_EQ(get_be32(fpga + offsetof(image_descriptor, crc)), crc_of(file));
    EXPECT_STREQ(reinterpret_cast<const char*>(fpga + offsetof(image_descriptor, download_date)),
                 "Mon Dec 07 10:00:00 2026");
    EXPECT_STREQ(reinterpret_cast<const char*>(info->data() + flash_info_at::bank_notes +
                                               offsetof(image_notes, comment)),
                 "from the test");
}

TEST_F(SimTransfer, DownloadWithAWrongCrcFailsAndStoresNothing) {
    start();
    boot_to(0);
    const std::vector<std::uint8_t> file = test_file(600);
    ASSERT_TRUE(is_answer(ask(request(sub_code::DL_REQ)), sub_code::DL_READY));
    ASSERT_TRUE(is_answer(ask(firmware_info(file_type_software, 3, file, crc_of(file) + 1)),
                          sub_code::FIRMWARE_INFO_ACK));
    EXPECT_TRUE(is_answer(ask(dl_data(file, 0)), sub_code::DL_ACK));
    EXPECT_TRUE(is_answer(ask(dl_data(file, 1)), sub_code::DL_FAIL));
    EXPECT_FALSE(unit_->memory().banks[3].software.valid());
}

TEST_F(SimTransfer, ChunkOutOfOrderGetsDlFail) {
    start();
    boot_to(0);
    const std::vector<std::uint8_t> file = test_file(1300);
    ask(request(sub_code::DL_REQ));
    ask(firmware_info(file_type_fpga, 3, file, crc_of(file)));
    const auto answer = ask(dl_data(file, 1));
    ASSERT_TRUE(is_answer(answer, sub_code::DL_FAIL));
    EXPECT_EQ(get_be16(answer->data() + dl_ack_at::p1), 1);
}

TEST_F(SimTransfer, UploadOfBank2FpgaImageBlockByBlock) {
    start();
    // Files are served by the boot loader only.
    const auto refused = ask(file_request(2, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(refused, sub_code::FILE_FAILED));
    EXPECT_EQ((*refused)[file_failed_at::error],
              static_cast<std::uint8_t>(file_error::not_in_loader));

    boot_to(0);
    const stored_image expected = unit_->memory().banks[2].fpga;
    const std::uint32_t size = expected.descriptor.size;
    std::vector<std::uint8_t> uploaded;
    std::uint32_t running = 0xFFFFFFFFU;
    const std::uint16_t blocks = static_cast<std::uint16_t>((size + 511) / 512);
    for (std::uint16_t block = 0; block < blocks; ++block) {
        const auto ack = ask(file_request(2, file_type_fpga, 512, block));
        ASSERT_TRUE(is_answer(ack, sub_code::FILE_ACK)) << "block " << block;
        EXPECT_EQ(get_be16(ack->data() + file_ack_at::block_number), block);
        ASSERT_EQ(get_be16(ack->data() + file_ack_at::data_length), 512) << "every block full";
        ASSERT_EQ(ack->size(), file_ack_at::data + 512);
        const std::size_t keep = std::min<std::size_t>(512, size - uploaded.size());
        const std::uint8_t* data = ack->data() + file_ack_at::data;
        running = crc32_file(data, keep, running) ^ 0xFFFFFFFFU;
        uploaded.insert(uploaded.end(), data, data + keep);
    }
    EXPECT_EQ(uploaded, expected.content);
    EXPECT_EQ(running ^ 0xFFFFFFFFU, expected.descriptor.crc);

    const auto past_end = ask(file_request(2, file_type_fpga, 512, blocks));
    ASSERT_TRUE(is_answer(past_end, sub_code::FILE_FAILED));
    EXPECT_EQ((*past_end)[file_failed_at::error], static_cast<std::uint8_t>(file_error::past_end));
    EXPECT_EQ(get_be32(past_end->data() + file_failed_at::size), size);
    const auto empty = ask(file_request(3, file_type_software, 512, 0));
    ASSERT_TRUE(is_answer(empty, sub_code::FILE_FAILED));
    EXPECT_EQ((*empty)[file_failed_at::error], static_cast<std::uint8_t>(file_error::no_image));
}

TEST_F(SimTransfer, EepromIsDescribedAndUploaded) {
    start();
    const auto info = ask(request(sub_code::EEPROM_INFO_REQ, {file_type_pa, 2, 0}));
    ASSERT_TRUE(is_answer(info, sub_code::EEPROM_ACK));
    const std::vector<std::uint8_t> content = unit_->memory().eeprom(file_type_pa, 2)->content;
    EXPECT_EQ((*info)[eeprom_ack_at::file_type], file_type_pa);
    EXPECT_EQ((*info)[eeprom_ack_at::channel], 2);
    EXPECT_EQ(get_be32(info->data() + eeprom_ack_at::file_size), content.size());
    EXPECT_EQ(get_be32(info->data() + eeprom_ack_at::file_crc), crc_of(content));
    EXPECT_TRUE(is_answer(ask(request(sub_code::EEPROM_INFO_REQ, {file_type_pa, 4, 0})),
                          sub_code::FILE_FAILED));

    boot_to(0);
    const auto block = ask(file_request(2, file_type_pa, 512, 0));
    ASSERT_TRUE(is_answer(block, sub_code::FILE_ACK));
    EXPECT_TRUE(std::equal(content.begin(), content.end(), block->begin() + file_ack_at::data));
}

TEST_F(SimTransfer, LogIsReadInTwoBlocks) {
    start();
    std::vector<std::string> entries;
    for (std::uint8_t block = 0;; ++block) {
        const auto answer = ask(request(sub_code::LOG_REQ, {block}));
        ASSERT_TRUE(is_answer(answer, sub_code::MESSAGE_LOG_ACK)) << "block " << int{block};
        const message_t& m = *answer;
        EXPECT_EQ(m[message_log_ack_at::entry_count], 11);
        EXPECT_EQ(m[message_log_ack_at::entry_length], 80);
        EXPECT_EQ(m[message_log_ack_at::seq_no], block);
        const std::size_t per_block = m[message_log_ack_at::seq_no_size];
        ASSERT_EQ(m.size(), message_log_ack_at::entries + per_block * 80);
        for (std::size_t slot = 0; slot < per_block; ++slot) {
            entries.emplace_back(
                reinterpret_cast<const char*>(m.data() + message_log_ack_at::entries + slot * 80));
        }
        if ((block + 1U) * per_block == m[message_log_ack_at::max_entries]) {
            break;
        }
        ASSERT_LT(block, 4) << "the last block never came";
    }
    ASSERT_EQ(entries.size(), 16U);
    EXPECT_EQ(entries[10], "2026-12-06 22:44:42 boot bank 1");
    EXPECT_EQ(entries[11], "");
    // There is no third block: no answer.
    pc_->send(request(sub_code::LOG_REQ, {2}));
    EXPECT_FALSE(pc_->receive(200ms));
}
