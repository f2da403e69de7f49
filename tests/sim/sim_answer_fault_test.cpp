// The simulated unit's whole-answer corruption and its wrong CRC-32 reports: what leaves the
// injector, what the PC's side of the line gets, and the options of kestrel-unit for them.
#include <array>
#include <bit>
#include <vector>

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"
#include "sim_harness.h"
#include "tools/unit_sim/sim_cli.h"
#include "tools/unit_sim/sim_injector.h"
#include "tools/unit_sim/sim_unit.h"

class SimAnswerFaults : public SimTest {};

namespace {

std::uint32_t crc_of(const std::vector<std::uint8_t>& data) {
    return crc32_file(data.data(), data.size(), 0xFFFFFFFFU);
}

// Differing bits between two frames of the same size.
int bits_apart(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    int bits = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        bits += std::popcount(static_cast<unsigned>(a[i] ^ b[i]));
    }
    return bits;
}

}  // namespace

TEST(SimAnswerFaultInjector, ACorruptedAnswerHasOneFlippedBitWhateverItsLength) {
    // A long FILE_ACK and a short DL_ACK are hit equally often: about half of each at 0.5.
    const std::array<message_t, 2> messages = {
        file_ack_answer(0, 512, std::vector<std::uint8_t>(512, 0x5A)),
        chunk_answer(false, 7),
    };
    for (const message_t& message : messages) {
        const std::vector<std::uint8_t> good = serial_frame(message.data(), message.size());
        sim_faults faults;
        faults.corrupt_answer_probability = 0.5;
        fault_injector injector(faults, 3);
        int corrupted = 0;
        for (int i = 0; i < 400; ++i) {
            std::vector<std::uint8_t> frame;
            const fault_injector::fate fate = injector.frame_answer(message, frame);
            ASSERT_EQ(frame.size(), good.size());
            if (fate == fault_injector::fate::sent) {
                ASSERT_EQ(frame, good);
                continue;
            }
            ASSERT_EQ(fate, fault_injector::fate::corrupted);
            ++corrupted;
            EXPECT_EQ(bits_apart(frame, good), 1) << "answer " << i;
            // The length field stands, so the receiver finds the frame and rejects it by its
            // checksum.
            EXPECT_EQ(get_be16(frame.data() + frame_message_offset + head_length),
                      get_be16(good.data() + frame_message_offset + head_length));
            EXPECT_NE(crc8_serial(frame.data() + frame_message_offset, message.size()),
                      frame[frame_message_offset + message.size()]);
        }
        EXPECT_GT(corrupted, 150) << message.size() << "-byte answer";
        EXPECT_LT(corrupted, 250) << message.size() << "-byte answer";
    }
}

TEST_F(SimAnswerFaults, CorruptedAnswersAreRejectedByThePcAndCounted) {
    sim_unit_options options = test_options();
    options.faults.corrupt_answer_probability = 1.0;
    start(options);
    const int errors_before = pc_->crc_errors();
    pc_->send(request(sub_code::BOOTINFO_REQ));
    EXPECT_FALSE(pc_->receive(300ms)) << "a corrupted answer must not get through";
    EXPECT_EQ(pc_->crc_errors(), errors_before + 1);
    EXPECT_EQ(unit_->snapshot().answers_corrupted, 1U);
    EXPECT_EQ(unit_->snapshot().answers_sent, 1U);

    unit_->set_faults({});
    EXPECT_TRUE(is_answer(ask(request(sub_code::BOOTINFO_REQ)), sub_code::BOOTINFO_ACK));
    EXPECT_EQ(unit_->snapshot().answers_corrupted, 1U);
}

TEST_F(SimAnswerFaults, WrongCrcIsReportedForImagesAndEepromsWhileTheDataStayRight) {
    sim_unit_options options = test_options();
    options.faults.wrong_crc = true;
    start(options);
    const unit_memory memory = unit_->memory();

    pc_->send(request(sub_code::FLASH_INFO_REQ));
    for (std::size_t k = 0; k < 3; ++k) {  // banks 0 to 2 hold valid images
        const auto info = pc_->receive();
        ASSERT_TRUE(info) << "FLASH_INFO of bank " << k;
        const std::uint8_t* record = info->data() + flash_info_at::bank_info;
        const stored_image& fpga = memory.banks[k].fpga;
        const stored_image& software = memory.banks[k].software;
        const auto reported = [&](std::size_t image) {
            return get_be32(record + image + offsetof(image_descriptor, crc));
        };
        EXPECT_NE(reported(offsetof(bank_info, fpga)), crc_of(fpga.content)) << "bank " << k;
        EXPECT_NE(reported(offsetof(bank_info, software)), crc_of(software.content))
            << "bank " << k;
        // Everything else of the record is as stored.
        EXPECT_EQ(get_be32(record + offsetof(bank_info, fpga) + offsetof(image_descriptor, size)),
                  fpga.content.size());
    }
    ASSERT_TRUE(pc_->receive()) << "FLASH_INFO of bank 3";

    boot_to(0);
    const eeprom_device* pa = memory.eeprom(file_type_pa, 1);
    ASSERT_NE(pa, nullptr);
    const auto described = ask(request(sub_code::EEPROM_INFO_REQ, {file_type_pa, 1}));
    ASSERT_TRUE(is_answer(described, sub_code::EEPROM_ACK));
    EXPECT_EQ(get_be32(described->data() + eeprom_ack_at::file_size), pa->content.size());
    EXPECT_NE(get_be32(described->data() + eeprom_ack_at::file_crc), crc_of(pa->content));

    // The blocks sent are the stored bytes.
    const auto block = ask(file_request(1, file_type_pa, 512, 0));
    ASSERT_TRUE(is_answer(block, sub_code::FILE_ACK));
    EXPECT_TRUE(std::equal(pa->content.begin(), pa->content.end(),
                           block->begin() + file_ack_at::data));
    const auto image_block = ask(file_request(2, file_type_fpga, 512, 0));
    ASSERT_TRUE(is_answer(image_block, sub_code::FILE_ACK));
    const std::vector<std::uint8_t>& image = memory.banks[2].fpga.content;
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512,
                           image_block->begin() + file_ack_at::data));

    // Without the fault the true CRC-32 is reported again.
    unit_->set_faults({});
    const auto right = ask(request(sub_code::EEPROM_INFO_REQ, {file_type_pa, 1}));
    ASSERT_TRUE(is_answer(right, sub_code::EEPROM_ACK));
    EXPECT_EQ(get_be32(right->data() + eeprom_ack_at::file_crc), crc_of(pa->content));
}

TEST(SimAnswerFaultCommandLine, ReadsTheAnswerFaultOptions) {
    const std::vector<const char*> args = {"--corrupt-answers", "0.01", "--wrong-crc"};
    const unit_command_result r = parse_unit_command_line(args);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_DOUBLE_EQ(r.options.unit.faults.corrupt_answer_probability, 0.01);
    EXPECT_DOUBLE_EQ(r.options.unit.faults.corrupt_probability, 0.0);
    EXPECT_TRUE(r.options.unit.faults.wrong_crc);

    const std::vector<const char*> bad = {"--corrupt-answers=2"};
    const unit_command_result refused = parse_unit_command_line(bad);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("probability"), std::string::npos) << refused.error;
    const std::vector<const char*> valued = {"--wrong-crc=1"};
    EXPECT_FALSE(parse_unit_command_line(valued).ok);

    const std::string help = unit_usage_text();
    EXPECT_NE(help.find("--corrupt-answers P"), std::string::npos);
    EXPECT_NE(help.find("--wrong-crc"), std::string::npos);
}
