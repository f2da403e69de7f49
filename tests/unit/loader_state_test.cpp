#include "protocol/loader_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/byte_order.h"
#include "protocol/messages.h"
#include "protocol/unit.h"
#include "support/fake_link.h"

namespace {

class LoaderStateBanks : public ::testing::Test {
protected:
    void SetUp() override { set_bank_start_values(banks, notes); }

    bank_info_array banks{};
    bank_notes_array notes{};
};

TEST_F(LoaderStateBanks, StartValuesMarkEveryBankInvalidWithItsFlashAddresses) {
    std::memset(&notes[2], 'x', sizeof notes[2]);
    banks[1].fpga.crc = 77;
    set_bank_start_values(banks, notes);
    const std::uint32_t fpga_address[] = {0x86000000, 0x86800000, 0x87000000, 0x87800000};
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(banks[k].fpga.status, 1u);
        EXPECT_EQ(banks[k].software.status, 1u);
        EXPECT_EQ(banks[k].fpga.flash_address, fpga_address[k]);
        EXPECT_EQ(banks[k].software.flash_address, fpga_address[k] + 0x200000);
        for (const image_descriptor* d : {&banks[k].fpga, &banks[k].software}) {
            EXPECT_EQ(d->crc, 0u);
            EXPECT_EQ(d->size, 0u);
            EXPECT_EQ(field_text(d->download_date), "");
            EXPECT_EQ(field_text(d->file_date), "");
            EXPECT_EQ(field_text(d->file_name), "");
        }
        const bank_notes empty{};
        EXPECT_EQ(std::memcmp(&notes[k], &empty, sizeof empty), 0);
    }
}

// A FLASH_INFO payload as the unit sends it, copied in unchanged, lands in the right fields
// and reads right once converted; the status word keeps its received bytes.
TEST_F(LoaderStateBanks, WirePayloadLandsInPlaceAndConvertsToHostOrder) {
    std::uint8_t wire[sizeof(bank_info) * 4] = {};
    for (std::size_t k = 0; k < 4; ++k) {
        std::uint8_t* record = wire + k * sizeof(bank_info);
        for (std::size_t image = 0; image < 2; ++image) {
            std::uint8_t* d = record + image * 96;
            const auto tag = static_cast<std::uint32_t>(k * 2 + image);
            d[3] = static_cast<std::uint8_t>(image);  // status 0 or big-endian 1
            put_be32(d + 4, 0x86000000u + tag);
            std::memcpy(d + 8, "Sun Dec 06 22:44:42 2026", 25);
            std::memcpy(d + 34, "Mon Jan 05 08:00:00 2026", 25);
            put_be32(d + 60, 0xA1B2C3D4u + tag);
            put_be32(d + 64, 1300u + tag);
            std::memcpy(d + 68, "image.bin", 10);
        }
    }
    std::memcpy(banks.data(), wire, sizeof wire);
    for (bank_info& record : banks) bank_info_to_host_order(record);

    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const image_descriptor* images[] = {&banks[k].fpga, &banks[k].software};
        for (std::size_t image = 0; image < 2; ++image) {
            const image_descriptor& d = *images[image];
            const auto tag = static_cast<std::uint32_t>(k * 2 + image);
            EXPECT_EQ(d.flash_address, 0x86000000u + tag);
            EXPECT_EQ(d.crc, 0xA1B2C3D4u + tag);
            EXPECT_EQ(d.size, 1300u + tag);
            EXPECT_EQ(field_text(d.download_date), "Sun Dec 06 22:44:42 2026");
            EXPECT_EQ(field_text(d.file_date), "Mon Jan 05 08:00:00 2026");
            EXPECT_EQ(field_text(d.file_name), "image.bin");
            EXPECT_EQ(std::memcmp(&d.status, wire + k * sizeof(bank_info) + image * 96, 4), 0);
        }
        EXPECT_EQ(banks[k].fpga.status, 0u);
        EXPECT_NE(banks[k].software.status, 0u);
    }
}

TEST_F(LoaderStateBanks, NoteTextsAreTerminatedInTheirLastByteOnly) {
    std::memset(&notes[1], 'x', sizeof notes[1]);
    terminate_note_texts(notes[1]);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&notes[1]);
    for (std::size_t i = 0; i < sizeof(bank_notes); ++i) {
        const bool terminator = i == 25 || i == 51 || i == 133 || i == 159;
        EXPECT_EQ(raw[i], terminator ? 0 : 'x') << "byte " << i;
    }
    EXPECT_EQ(field_text(notes[1].software.comment), std::string(25, 'x'));
}

TEST(LoaderStateInit, TransferHeadsFollowTheChunkSizeAndRefuseAnOversizedOne) {
    request_templates requests = start_request_templates();
    dl_data_buffer block{};
    ASSERT_TRUE(fill_transfer_heads(requests, block, 512));
    EXPECT_EQ(block.message_size(), 522u);
    EXPECT_EQ(block.message()[5], 0x11);
    EXPECT_EQ(get_be16(requests.firmware_info.data() + firmware_info_at::chunk_size), 512);
    EXPECT_FALSE(fill_transfer_heads(requests, block, 4096));
    EXPECT_EQ(block.message_size(), 522u);
}

// A unit starts as the program starts it: a fresh record, the banks' start values, every
// request template whole.
TEST(LoaderStateRecord, AFreshUnitStartsInTheStartState) {
    captured_link link;
    const unit u(link);
    EXPECT_EQ(u.op.verbose_level, 0);
    EXPECT_EQ(u.op.chunk_size, 512u);
    EXPECT_EQ(u.op.first_bank, 1);
    EXPECT_EQ(u.op.file_crc, 0u);
    EXPECT_EQ(u.op.retry_count, 0);
    EXPECT_FALSE(u.op.dl_ready.test());
    EXPECT_FALSE(u.op.file_failed.test());
    EXPECT_TRUE(u.op.comment.empty());
    EXPECT_EQ(u.banks[3].fpga.status, 1u);
    EXPECT_EQ(u.banks[3].fpga.flash_address, 0x87800000u);
    EXPECT_EQ(u.requests.reboot_req[param_p1], 0x80);
    EXPECT_EQ(u.block_buffer.message_size(), 522u);
    EXPECT_FALSE(u.link_failure);
}

TEST(LoaderStateFixedText, LongTextsAreCutAndNeverWrittenPastTheField) {
    struct {
        fixed_text<8> text;
        char guard[8];
    } g;
    std::memset(g.guard, 'G', sizeof g.guard);
    g.text.assign("0123456789abcdef");
    EXPECT_EQ(g.text.view(), "0123456");
    EXPECT_EQ(g.text.size(), 7u);
    EXPECT_EQ(g.text.data()[7], '\0');
    for (char c : g.guard) EXPECT_EQ(c, 'G');

    // A shorter text leaves no trace of the longer one in the field copied into messages.
    g.text.assign("ab");
    EXPECT_STREQ(g.text.c_str(), "ab");
    for (std::size_t i = 2; i < 8; ++i) EXPECT_EQ(g.text.data()[i], '\0') << i;
    g.text.clear();
    EXPECT_TRUE(g.text.empty());

    fixed_text<26> user(std::string(30, 'u'));
    EXPECT_EQ(user.view(), std::string(25, 'u'));
}

TEST(LoaderStateFixedText, RawFieldsAreCutPaddedAndReadWithinTheirSize) {
    char field[6];
    std::memset(field, 'z', sizeof field);
    put_text_field(field, "abcdefgh");
    EXPECT_EQ(std::memcmp(field, "abcde", 6), 0);
    put_text_field(field, "x");
    EXPECT_EQ(std::memcmp(field, "x\0\0\0\0\0", 6), 0);

    // A field the unit filled without a NUL reads as its whole width and no further.
    std::memset(field, 'w', sizeof field);
    EXPECT_EQ(field_text(field), "wwwwww");
}

}  // namespace
