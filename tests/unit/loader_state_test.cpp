#include "protocol/loader_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "link/byte_order.h"
#include "protocol/messages.h"

namespace {

class LoaderStateBanks : public ::testing::Test {
protected:
    void SetUp() override { set_bank_start_values(); }
    void TearDown() override { set_bank_start_values(); }
};

TEST_F(LoaderStateBanks, StartValuesMarkEveryBankInvalidWithItsFlashAddresses) {
    std::memset(&notes[2], 'x', sizeof notes[2]);
    banks[1].fpga.crc = 77;
    set_bank_start_values();
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
    banks_to_host_order();

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

TEST(LoaderStateInit, InitialisationSetsBanksAndHeadsAndRefusesAnOversizedChunk) {
    banks[0].fpga.status = 0;
    block_buffer.bytes.fill(0);
    ASSERT_TRUE(init_loader_tables(512));
    EXPECT_EQ(banks[0].fpga.status, 1u);
    EXPECT_EQ(block_buffer.message_size(), 522u);
    EXPECT_EQ(block_buffer.message()[5], 0x11);
    EXPECT_FALSE(init_loader_tables(4096));
    EXPECT_EQ(block_buffer.message_size(), 522u);
    reset_request_templates();
}

TEST(LoaderStateRecord, ResetRestoresTheStartState) {
    firmware_operation.verbose_level = 9;
    firmware_operation.chunk_size = 1;
    firmware_operation.file_crc = 0xFFFFFFFF;
    firmware_operation.retry_count = 12;
    firmware_operation.dl_ready.raise();
    firmware_operation.file_failed.raise();
    firmware_operation.comment.assign("to be forgotten");
    reset_firmware_operation();
    EXPECT_EQ(firmware_operation.verbose_level, 0);
    EXPECT_EQ(firmware_operation.chunk_size, 512u);
    EXPECT_EQ(firmware_operation.first_bank, 1);
    EXPECT_EQ(firmware_operation.file_crc, 0u);
    EXPECT_EQ(firmware_operation.retry_count, 0);
    EXPECT_FALSE(firmware_operation.dl_ready.test());
    EXPECT_FALSE(firmware_operation.file_failed.test());
    EXPECT_TRUE(firmware_operation.comment.empty());
}

// What the receiver writes before raising a flag is what the main loop reads after seeing it.
TEST(LoaderStateRecord, PayloadWrittenBeforeRaiseIsSeenAfterTest) {
    reset_log_area();
    reset_firmware_operation();
    std::thread receiver([] {
        std::memcpy(log_buffer.data(), "entry", 6);
        log_report.entry_count = 1;
        firmware_operation.block_received.raise();
    });
    while (!firmware_operation.block_received.test()) std::this_thread::yield();
    EXPECT_STREQ(reinterpret_cast<const char*>(log_buffer.data()), "entry");
    EXPECT_EQ(log_report.entry_count, 1);
    firmware_operation.block_received.clear();
    EXPECT_FALSE(firmware_operation.block_received.test());
    receiver.join();
    reset_log_area();
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
