#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>

#include "link/byte_order.h"
#include "protocol/loader_state.h"

namespace {

// The templates and buffer of a unit as the program starts them.
class MessagesTest : public ::testing::Test {
protected:
    request_templates requests = start_request_templates();
    dl_data_buffer block_buffer = start_block_buffer();
    firmware_operation_record firmware_operation;
};

struct template_case {
    const char* name;
    std::span<const std::uint8_t> bytes;
    std::size_t n;
    std::uint8_t cmd;
    std::uint8_t sub;
};

TEST_F(MessagesTest, EveryRequestTemplateHasItsHeadAndZeroParameters) {
    const template_case cases[] = {
        {"REBOOT_REQ", requests.reboot_req, 7, 0x48, 0x00},
        {"KEEP_ALIVE", requests.keep_alive, 7, 0x55, 0x04},
        {"LOG_REQ", requests.log_req, 7, 0x55, 0x05},
        {"LOADER_EXIT", requests.loader_exit, 7, 0x55, 0x08},
        {"FILE_REQ", requests.file_req, 12, 0x55, 0x09},
        {"FLASH_INFO_REQ", requests.flash_info_req, 7, 0x55, 0x14},
        {"BOOTINFO_REQ", requests.bootinfo_req, 7, 0x55, 0x19},
        {"DL_REQ", requests.dl_req, 7, 0x55, 0x1F},
        {"SAFEMODE_REQ", requests.safemode_req, 7, 0x55, 0x20},
        {"EEPROM_INFO_REQ", requests.eeprom_info_req, 9, 0x55, 0x21},
    };
    for (const template_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t n = c.bytes.size();
        ASSERT_EQ(n, c.n);
        EXPECT_EQ(c.bytes[0], 0x2A);
        EXPECT_EQ(c.bytes[1], 0x10);
        EXPECT_EQ(get_be16(c.bytes.data() + 2), n - 5);
        EXPECT_EQ(c.bytes[4], c.cmd);
        EXPECT_EQ(c.bytes[5], c.sub);
        const std::uint8_t p1 = c.cmd == 0x48 ? 0x80 : 0x00;
        EXPECT_EQ(c.bytes[6], p1);
        for (std::size_t i = 7; i < n; ++i) EXPECT_EQ(c.bytes[i], 0) << "byte " << i;
    }
    EXPECT_EQ(requests.firmware_info[0], 0x2A);
    EXPECT_EQ(get_be16(requests.firmware_info.data() + 2), 147);
    EXPECT_EQ(requests.firmware_info[5], 0x1C);
}

TEST_F(MessagesTest, EachUnitStartsFromTemplatesOfItsOwn) {
    requests.reboot_req[param_p1] = 0x83;
    requests.firmware_info[firmware_info_at::user] = 'x';
    ASSERT_TRUE(fill_transfer_heads(requests, block_buffer, 1024));
    block_buffer.set_chunk_number(9);
    const request_templates fresh = start_request_templates();
    const dl_data_buffer fresh_block = start_block_buffer();
    EXPECT_EQ(fresh.reboot_req[param_p1], 0x80);
    EXPECT_EQ(fresh.firmware_info[firmware_info_at::user], 0);
    EXPECT_EQ(fresh_block.chunk_number(), 0);
    EXPECT_EQ(fresh_block.message_size(), 522u);
}

// FIRMWARE_INFO packed between two guard areas, to see that nothing lands outside it.
struct guarded_firmware_info {
    std::array<std::uint8_t, 16> before;
    message_bytes<firmware_info_size> message;
    std::array<std::uint8_t, 16> after;
};

TEST_F(MessagesTest, FirmwareInfoPacksEveryFieldBigEndianAtItsOffset) {
    firmware_operation.file_type = 2;
    firmware_operation.chunk_size = 512;
    firmware_operation.file_size = 0x00012345;
    firmware_operation.file_crc = 0xCAFEBABE;
    firmware_operation.bank = 3;
    firmware_operation.download_time.assign("Sun Dec 06 22:44:42 2026");
    firmware_operation.file_time.assign("Mon Jan 05 08:00:00 2026");
    firmware_operation.file_name.assign("a_very_long_software_image_name_v12.srec");  // 40 chars
    firmware_operation.user.assign("abcdefghijklmnopqrstuvwxyz1234");               // 30 chars
    firmware_operation.comment.assign("first light");

    guarded_firmware_info g;
    g.before.fill(0xA5);
    g.message.fill(0xFF);  // every byte must be written, reserved ones included
    g.after.fill(0xA5);
    pack_firmware_info(g.message, firmware_operation);
    const std::uint8_t* m = g.message.data();

    EXPECT_EQ(m[0], 0x2A);
    EXPECT_EQ(m[1], 0x10);
    EXPECT_EQ(get_be16(m + 2), 147);
    EXPECT_EQ(m[4], 0x55);
    EXPECT_EQ(m[5], 0x1C);
    EXPECT_EQ(m[7], 2);
    EXPECT_EQ(m[8], 0x02);
    EXPECT_EQ(m[9], 0x00);
    EXPECT_EQ(m[12], 0x00);
    EXPECT_EQ(m[13], 0x01);
    EXPECT_EQ(m[14], 0x23);
    EXPECT_EQ(m[15], 0x45);
    EXPECT_EQ(get_be32(m + 16), 0xCAFEBABEu);
    EXPECT_EQ(m[20], 3);
    for (std::size_t reserved : {6u, 10u, 11u, 151u}) EXPECT_EQ(m[reserved], 0) << reserved;

    auto text_at = [m](std::size_t offset) {
        return std::string(reinterpret_cast<const char*>(m + offset));
    };
    EXPECT_EQ(text_at(21), "Sun Dec 06 22:44:42 2026");
    EXPECT_EQ(text_at(47), "Mon Jan 05 08:00:00 2026");
    EXPECT_EQ(text_at(73), "a_very_long_software_imag");
    EXPECT_EQ(text_at(99), "abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(text_at(125), "first light");
    for (std::size_t field : {21u, 47u, 73u, 99u, 125u}) {
        for (std::size_t i = field + std::strlen(reinterpret_cast<const char*>(m + field));
             i < field + 26; ++i)
            EXPECT_EQ(m[i], 0) << "text field at " << field << ", byte " << i;
    }
    for (std::uint8_t b : g.before) EXPECT_EQ(b, 0xA5);
    for (std::uint8_t b : g.after) EXPECT_EQ(b, 0xA5);
}

TEST_F(MessagesTest, BlockBufferIsAFullDlDataMessage) {
    const std::uint8_t head[] = {0x2A, 0x10, 0x02, 0x05, 0x55, 0x11};
    EXPECT_EQ(std::memcmp(block_buffer.message(), head, sizeof head), 0);
    EXPECT_EQ(block_buffer.message_size(), 522u);
    EXPECT_EQ(block_buffer.data(), block_buffer.message() + 10);

    // The last chunk of a 1300-byte file: chunk 2 with 276 valid bytes, still sent whole.
    block_buffer.set_chunk_number(2);
    block_buffer.set_data_length(276);
    EXPECT_EQ(block_buffer.message()[6], 0x00);
    EXPECT_EQ(block_buffer.message()[7], 0x02);
    EXPECT_EQ(block_buffer.message()[8], 0x01);
    EXPECT_EQ(block_buffer.message()[9], 0x14);
    EXPECT_EQ(block_buffer.chunk_number(), 2);
    EXPECT_EQ(block_buffer.data_length(), 276);
    EXPECT_EQ(block_buffer.message_size(), 522u);

    block_buffer.set_chunk_number(0xBEEF);
    EXPECT_EQ(block_buffer.message()[6], 0xBE);
    EXPECT_EQ(block_buffer.chunk_number(), 0xBEEF);
}

TEST_F(MessagesTest, TransferHeadsFollowTheChunkSizeWithinTheBuffer) {
    requests.firmware_info.fill(0);
    ASSERT_TRUE(fill_transfer_heads(requests, block_buffer, 1024));
    EXPECT_EQ(get_be16(block_buffer.message() + 2), 1029);
    EXPECT_EQ(block_buffer.data_length(), 1024);
    EXPECT_EQ(block_buffer.message_size(), block_buffer.bytes.size());
    EXPECT_EQ(requests.firmware_info[0], 0x2A);
    EXPECT_EQ(requests.firmware_info[1], 0x10);
    EXPECT_EQ(get_be16(requests.firmware_info.data() + 2), 147);
    EXPECT_EQ(requests.firmware_info[4], 0x55);
    EXPECT_EQ(requests.firmware_info[5], 0x1C);
    EXPECT_EQ(get_be16(requests.firmware_info.data() + 8), 1024);

    // A size the data area cannot hold, or none at all, changes nothing.
    EXPECT_FALSE(fill_transfer_heads(requests, block_buffer, 1025));
    EXPECT_FALSE(fill_transfer_heads(requests, block_buffer, 0));
    EXPECT_EQ(get_be16(block_buffer.message() + 2), 1029);
    EXPECT_EQ(get_be16(requests.firmware_info.data() + 8), 1024);

    ASSERT_TRUE(fill_transfer_heads(requests, block_buffer, 512));
    EXPECT_EQ(block_buffer.message_size(), 522u);
    EXPECT_EQ(block_buffer.data_length(), 512);
}

TEST(MessagesCatalogue, FlashInfoCodesNameBanksZeroToThree) {
    EXPECT_FALSE(is_flash_info(0x14));
    for (std::uint8_t sub = 0x15; sub <= 0x18; ++sub) {
        EXPECT_TRUE(is_flash_info(sub));
        EXPECT_EQ(flash_info_bank(sub), static_cast<std::size_t>(sub - 0x15));
    }
    EXPECT_FALSE(is_flash_info(0x19));
}

TEST(MessagesFileTypes, OutputNamesFollowTheRuleOfEachType) {
    EXPECT_EQ(output_file_name(1, 2), "FW_Bank2.bin");
    EXPECT_EQ(output_file_name(2, 3), "SW_Bank3.srec");
    EXPECT_EQ(output_file_name(3, 2), "Controller.eeprom");
    EXPECT_EQ(output_file_name(4, 0), "Charger.eeprom");
    EXPECT_EQ(output_file_name(5, 2), "PA_Channel3.eeprom");
    EXPECT_EQ(output_file_name(6, 3), "TC_Channel4.eeprom");
    EXPECT_EQ(output_file_name(6, 0), "TC_Channel1.eeprom");
    for (int refused : {0, 7, -1, 255}) {
        EXPECT_FALSE(output_file_name(refused, 0).has_value()) << refused;
        EXPECT_EQ(find_file_type(refused), nullptr) << refused;
    }
    EXPECT_STREQ(device_name(3), "Controller");
    EXPECT_STREQ(device_name(6), "TC");
    EXPECT_EQ(device_name(2), nullptr);
    EXPECT_EQ(device_name(7), nullptr);
}

}  // namespace
