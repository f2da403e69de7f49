// The transfer states of the session's loop, driven pass by pass with a fake clock and a
// captured link: downloads (preparing_download to awaiting_chunk_answer), uploads and the log,
// alone and inside command-line runs, with the exit status those runs end with. Answers of the
// unit go through the dispatcher as the receiver hands them on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/arg.h"
#include "app/batch_operations.h"
#include "app/options.h"
#include "app/session.h"
#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/keys.h"
#include "files/image_file.h"
#include "files/output_files.h"
#include "link/byte_order.h"
#include "link/crc.h"
#include "link/serial_port.h"
#include "protocol/actions.h"
#include "protocol/dispatcher.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/command_line.h"
#include "support/fake_link.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "support/transfer_bench.h"
#include "support/unit_answers.h"

namespace {

namespace fs = std::filesystem;

using bytes = std::vector<std::uint8_t>;

// ---- What went out -----------------------------------------------------------------------

std::vector<sent_request> sent(sub_code sub) { return FakeClockAndLink::sent_of(sub); }

std::string text_at(const std::vector<std::uint8_t>& message, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(message.data() + offset));
}

std::vector<std::uint16_t> blocks_asked() {
    std::vector<std::uint16_t> numbers;
    for (const auto& r : sent(sub_code::FILE_REQ)) {
        numbers.push_back(block_asked(r));
    }
    return numbers;
}

std::uint16_t chunk_number(const sent_request& r) {
    return get_be16(r.bytes.data() + dl_data_at::chunk_number);
}

// Passes with the clock moving `step` ms before each, for `ms` ms, or until the op state is no
// longer `state` (when one is given).
void run_for(session& loop, std::uint32_t ms, std::uint32_t step = 100,
             std::optional<operation_state> state = std::nullopt) {
    run_passes(loop, ms, step, [&loop, state] { return state && loop.op_state != *state; });
}

// ---- Downloads ---------------------------------------------------------------------------

class DownloadFlow : public TransferBench {
protected:
    // The file chosen as the load dialog's command-line form chooses it: FPGA image, bank 2.
    bytes choose_file(const std::string& name, std::size_t size, unsigned seed = 1) {
        const bytes data = pattern(size, seed);
        write_file(name, data);
        op().file_type = file_type_fpga;
        op().bank = 2;
        const load_answer answer = check_load_file(name, "a comment");
        EXPECT_EQ(answer.result, load_result::go);
        record_download_choice(u(), answer.choice);
        return data;
    }
};

TEST_F(DownloadFlow, AtLevelTwoEachChunkIsTracedAndTheLastTraceShowsTheCountReached) {
    session& loop = the_session();
    choose_file("image.bin", 1000);
    op().verbose_level = 2;
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    // The unit runs its boot loader already: no waiting line, no progress mark.
    unit_answers(sub_code::DL_READY);
    loop.pass();
    unit_answers(sub_code::FIRMWARE_INFO_ACK);
    loop.pass();
    loop.pass();
    ack_every_chunk(loop);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    EXPECT_EQ(out.text(),
              "Sending firmware_info\n"
              "file seq no 0 out of 2\r"
              "file seq no 1 out of 2\r"
              "file seq no 2 out of 2\r"
              "\ndownload completed\n");
}

TEST_F(DownloadFlow, AtLevelThreeTheFileCrcIsShown) {
    session& loop = the_session();
    const bytes data = choose_file("image.bin", 777);
    op().verbose_level = 3;
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    char line[40];
    std::snprintf(line, sizeof line, "CRC32 %X\n", crc_of(data));
    EXPECT_EQ(out.text(), line);
    EXPECT_EQ(op().file_crc, crc_of(data));
    EXPECT_EQ(op().file_size, 777u);
    EXPECT_EQ(op().seq_count, 2u);
}

TEST_F(DownloadFlow, WaitingForTheBootLoaderPrintsAMarkEvery16MsAtLevelTwo) {
    for (const int level : {1, 2}) {
        SetUp();
        session& loop = the_session();
        choose_file("image.bin", 100);
        op().current_bank = 1;
        op().verbose_level = static_cast<std::uint8_t>(level);
        loop.op_state = operation_state::preparing_download;
        loop.pass();
        EXPECT_EQ(out.take(), "Waiting for booting to bank 0 and start downloading image.bin\n");
        for (int ms = 0; ms < 40; ++ms) {  // marks at once, after 16 and after 32 ms
            FakeClockAndLink::now_ms() += 1;
            loop.pass();
        }
        EXPECT_EQ(loop.op_state, operation_state::awaiting_dl_ready);
        EXPECT_EQ(out.take(), level == 2 ? "***" : "") << level;
        EXPECT_EQ(sent(sub_code::DL_REQ).size(), 1u);
    }
}

TEST_F(DownloadFlow, AChunkNeverAnsweredGoesFiftyTimesMoreThenTheDownloadIsAborted) {
    session& loop = the_session();
    choose_file("image.bin", 1300);
    announce(loop);
    ASSERT_EQ(sent(sub_code::DL_DATA).size(), 1u);
    // Each time-out sends the chunk again until the budget is spent; the time-out after that
    // ends the operation.
    run_until_idle(loop, 800000, 1000);
    ASSERT_EQ(loop.op_state, operation_state::idle);
    const auto chunks = sent(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 51u);
    for (const auto& chunk : chunks) {
        EXPECT_EQ(chunk.bytes, chunks[0].bytes);  // chunk 0 every time, unchanged
    }
    EXPECT_EQ(chunk_number(chunks.back()), 0);
    EXPECT_EQ(u().budgets.chunk_answer, 0);
    EXPECT_EQ(op().retry_count, 50);
    EXPECT_EQ(out.text(), "Timeout. Operation aborted\n");
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_TRUE(operation_failed(u()));
    // Aborted, not ended: the bank records are not read again.
    EXPECT_TRUE(sent(sub_code::FLASH_INFO_REQ).empty());
    EXPECT_EQ(fake.link.small_pieces, true);

    // The next download has its fifty retries again.
    FakeClockAndLink::sent().clear();
    out.take();
    choose_file("second.bin", 100, 2);
    announce(loop);
    EXPECT_EQ(u().budgets.chunk_answer, 50);
    run_for(loop, 11000, 100, operation_state::awaiting_chunk_answer);
    EXPECT_EQ(loop.op_state, operation_state::sending_chunk);
    loop.pass();
    const auto again = sent(sub_code::DL_DATA);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].bytes, again[0].bytes);
    EXPECT_EQ(out.text(), "");
}

// A chunk whose answer arrived broken goes again at the next pass, in whole pieces: the unit
// had it whole.
TEST_F(DownloadFlow, AChunkWhoseAnswerArrivedBrokenGoesAgainAtOnce) {
    session& loop = the_session();
    choose_file("image.bin", 600);
    announce(loop);
    u().inbox.on_damaged_frame();
    loop.pass();
    loop.pass();
    const auto chunks = sent(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].bytes, chunks[0].bytes);
    EXPECT_LE(chunks[1].time - chunks[0].time, 200u);
    EXPECT_FALSE(fake.link.small_pieces);
    ack_every_chunk(loop);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
}

TEST_F(DownloadFlow, ARetryTakesOneFromTheChunkBudgetAndTellsIt) {
    session& loop = the_session();
    choose_file("image.bin", 600);
    op().verbose_level = 1;
    announce(loop);
    unit_answers(sub_code::DL_ACK, {0, 0});
    loop.pass();
    loop.pass();  // chunk 1 is sent and its answer lost
    out.take();
    const std::uint32_t chunk_sent = FakeClockAndLink::now_ms();
    run_for(loop, 20000, 100, operation_state::awaiting_chunk_answer);
    EXPECT_EQ(FakeClockAndLink::now_ms() - chunk_sent, 1100u);  // chunk 0's answer came at once
    EXPECT_EQ(out.take(), "\nstate6_retry seq no: 1 Retry: 49\n\r");
    EXPECT_EQ(op().seq_no, 1u);
    EXPECT_EQ(op().retry_count, 1);
    loop.pass();
    EXPECT_EQ(chunk_number(sent(sub_code::DL_DATA).back()), 1);
    EXPECT_EQ(op().seq_no, 2u);
    ack_every_chunk(loop);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
}

TEST_F(DownloadFlow, AFileTooLargeForSixteenBitChunkNumbersIsRefusedWithItsCounts) {
    session& loop = the_session();
    choose_file("huge.bin", 10);
    fs::resize_file("huge.bin", std::uintmax_t{max_chunks} * 512u + 1u);
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    EXPECT_EQ(out.text(),
              "File huge.bin is too large to load: 65537 chunks of 512 bytes, at most 65536\n");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(op().seq_count, 0u);
    EXPECT_TRUE(u().image.empty());  // the 32 MiB are not kept for nothing
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    EXPECT_TRUE(operation_failed(u()));
}

TEST_F(DownloadFlow, TheAnnouncementDescribesTheChosenFile) {
    session& loop = the_session();
    op().user.assign("tester");
    const bytes data = choose_file("image.bin", 1300);
    announce(loop);
    const auto info = sent(sub_code::FIRMWARE_INFO);
    ASSERT_EQ(info.size(), 1u);
    const bytes& m = info[0].bytes;
    ASSERT_EQ(m.size(), firmware_info_size);
    EXPECT_EQ(m[firmware_info_at::file_type], file_type_fpga);
    EXPECT_EQ(get_be16(m.data() + firmware_info_at::chunk_size), 512);
    EXPECT_EQ(get_be32(m.data() + firmware_info_at::file_size), 1300u);
    EXPECT_EQ(get_be32(m.data() + firmware_info_at::file_crc), crc_of(data));
    EXPECT_EQ(m[firmware_info_at::bank], 2);
    EXPECT_EQ(text_at(m, firmware_info_at::file_name), "image.bin");
    EXPECT_EQ(text_at(m, firmware_info_at::user), "tester");
    EXPECT_EQ(text_at(m, firmware_info_at::comment), "a comment");
    // DL_REQ first, then the description once DL_READY came, then the chunks.
    const auto& all = FakeClockAndLink::sent();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all[0].sub, sub_byte(sub_code::DL_REQ));
    EXPECT_EQ(all[1].sub, sub_byte(sub_code::FIRMWARE_INFO));
    EXPECT_EQ(all[2].sub, sub_byte(sub_code::DL_DATA));
}

// ---- Uploads -----------------------------------------------------------------------------

class UploadFlow : public TransferBench {
protected:
    // Every block from `first` on, each answered at once.
    void send_blocks(session& loop, const bytes& file, std::uint16_t first = 0) {
        const auto count = static_cast<std::uint16_t>((file.size() + 511) / 512);
        for (std::uint16_t block = first; block < count; ++block) {
            unit_sends_block(block, file);
            loop.pass();
        }
    }

    const fs::path fw2 = fs::path("out") / "FW_Bank2.bin";
    const fs::path fw2_part = fs::path(unfinished_path(fw2.string()));
};

TEST_F(UploadFlow, ASoftwareImageIsCheckedAgainstItsOwnRecordAndTracedBlockByBlock) {
    session& loop = the_session();
    const bytes image = pattern(1024, 3);  // two full blocks, none cut
    u().banks[3].software.size = 1024;
    u().banks[3].software.crc = crc_of(image);
    u().banks[3].fpga.size = 99;  // the other image of the bank must not be taken
    u().banks[3].fpga.crc = 0x12345678u;
    op().verbose_level = 1;
    begin_get(loop, file_type_software, 3);
    send_blocks(loop, image);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(out.text(),
              "  file seq 1 received out of 2\r"
              "  file seq 2 received out of 2\r"
              "\nupload completed\n");
    EXPECT_EQ(content_of(fs::path("out") / "SW_Bank3.srec"), image);
    EXPECT_EQ(op().seq_count, 2u);
    const auto asks = sent(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_EQ(asks[1].bytes,
              (bytes{0x2A, 0x10, 0x00, 0x07, 0x55, 0x09, 3, file_type_software, 0x02, 0x00, 0, 1}));
    EXPECT_FALSE(operation_failed(u()));
}

TEST_F(UploadFlow, AChannelEepromOfSeveralBlocksIsCheckedAgainstWhatEepromAckSaid) {
    for (const bool crc_matches : {true, false}) {
        SetUp();
        fs::remove_all("out");
        session& loop = the_session();
        const bytes eeprom = pattern(700, 5);
        begin_get(loop, file_type_tc, 3);
        const auto asked = sent(sub_code::EEPROM_INFO_REQ);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].bytes[eeprom_info_req_at::file_type], file_type_tc);
        EXPECT_EQ(asked[0].bytes[eeprom_info_req_at::channel], 3);
        unit_describes_eeprom(file_type_tc, 3, 700, crc_of(eeprom) ^ (crc_matches ? 0u : 1u));
        // A CRC-32 that does not match has the file read again, three times over.
        for (int read = 0; read <= (crc_matches ? 0 : repair_passes); ++read) {
            send_blocks(loop, eeprom);
        }
        EXPECT_EQ(loop.op_state, operation_state::idle);
        const fs::path file = fs::path("out") / "TC_Channel4.eeprom";
        EXPECT_FALSE(fs::exists(unfinished_path(file.string())));
        if (crc_matches) {
            EXPECT_EQ(content_of(file), eeprom);
            EXPECT_EQ(out.text(), "");
            EXPECT_FALSE(operation_failed(u()));
        } else {
            char line[60];
            std::snprintf(line, sizeof line, "CRC32 Error %08X expected %08X\n\r", crc_of(eeprom),
                          crc_of(eeprom) ^ 1u);
            EXPECT_EQ(out.text(), line + removal_line("out", "TC_Channel4.eeprom"));
            EXPECT_FALSE(fs::exists(file));
            EXPECT_TRUE(operation_failed(u()));
        }
    }
}

TEST_F(UploadFlow, AShortLastBlockFailsTheCrcCheckInsteadOfBeingReadPast) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, bytes(image.begin(), image.begin() + 1024));
    ASSERT_EQ(loop.op_state, operation_state::uploading);
    // Block 2 should carry the last 276 bytes; it carries only 100 of them, every time it is
    // read again.
    for (int read = 0; read <= repair_passes; ++read) {
        if (read > 0) {
            send_blocks(loop, bytes(image.begin(), image.begin() + 1024));
        }
        unit_sends_file_ack(2, 100, bytes(image.begin() + 1024, image.begin() + 1124));
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(out.text().rfind("CRC32 Error ", 0), 0u) << out.text();
    EXPECT_NE(out.text().find(removal_line("out", "FW_Bank2.bin")), std::string::npos);
    EXPECT_FALSE(fs::exists(fw2));
    EXPECT_FALSE(fs::exists(fw2_part));
    EXPECT_TRUE(operation_failed(u()));
}

TEST_F(UploadFlow, BlockNumbersAbove255AreAskedForInSixteenBits) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(300 * 512 + 5);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, image);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    const auto asks = sent(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 301u);
    EXPECT_EQ(asks[256].bytes[file_req_at::block_number], 0x01);
    EXPECT_EQ(asks[256].bytes[file_req_at::block_number + 1], 0x00);
    EXPECT_EQ(block_asked(asks[300]), 300);
    EXPECT_EQ(content_of(fw2), image);
}

TEST_F(UploadFlow, ABootReportDuringTheUploadAsksForTheExpectedBlockAgain) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, image);
    loop.pass();
    unit_reports_boot(1);  // whatever bank it names
    loop.pass();
    EXPECT_EQ(blocks_asked(), (std::vector<std::uint16_t>{0, 1, 1}));
    EXPECT_EQ(op().active_bank, 1);
    EXPECT_EQ(op().boot_status, boot_status_none);
    EXPECT_EQ(loop.op_state, operation_state::uploading);
    send_blocks(loop, image, 1);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw2), image);
}

// The first block may come after a reboot and is waited for 10 s; once one came at once, a
// silence of 1 s is taken for a lost answer.
TEST_F(UploadFlow, ALostBlockIsAskedForAgainAfterASecondAndTheBudgetServesTheWholeRun) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    op().verbose_level = 1;
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, image);
    loop.pass();
    out.take();
    const std::uint32_t asked = sent(sub_code::FILE_REQ).back().time;
    run_for(loop, 1000);
    EXPECT_EQ(sent(sub_code::FILE_REQ).size(), 2u);
    run_for(loop, 100);
    const auto asks = sent(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(asks[2].time - asked, 1100u);
    EXPECT_EQ(asks[2].bytes, asks[1].bytes);
    EXPECT_EQ(out.take(), "state13_retry seq no: 1\n\r");
    EXPECT_EQ(u().budgets.file_block, 49);
    EXPECT_EQ(op().retry_count, 1);
    send_blocks(loop, image, 1);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw2), image);

    // The next get of the run starts with what is left.
    begin_get(loop, file_type_fpga, 2);
    EXPECT_EQ(u().budgets.file_block, 49);
}

// A block whose answer arrived broken is asked for again at the next pass, not after the
// time-out; its late second answer is then dropped, not taken for a block out of order.
TEST_F(UploadFlow, ABrokenAnswerIsAskedForAgainAtOnceAndALateSecondOneIsDropped) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, image);
    loop.pass();
    u().inbox.on_damaged_frame();  // block 1's answer
    loop.pass();
    const auto asks = sent(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(block_asked(asks[2]), 1);
    EXPECT_LE(asks[2].time - asks[1].time, 200u);
    unit_sends_block(1, image);
    loop.pass();
    unit_sends_block(1, image);  // the late answer of the first request for block 1
    loop.pass();
    unit_sends_block(2, image);
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw2), image);
    EXPECT_EQ(out.text().find("Seq no mismatch"), std::string::npos) << out.text();
    EXPECT_FALSE(operation_failed(u()));
}

TEST_F(UploadFlow, OnTheSerialLinkALostBlockIsAskedForAgainDespiteTheKeepAlives) {
    on_serial_link();
    session& loop = the_session();
    fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    fake.link.mark_heard(FakeClockAndLink::now_ms());
    FakeClockAndLink::sent().clear();
    const std::uint32_t asked = FakeClockAndLink::now_ms();
    run_for(loop, 25000);
    const auto asks = sent(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_LE(asks[0].time - asked, 10200u);
    EXPECT_LE(asks[1].time - asks[0].time, 10200u);
    EXPECT_EQ(block_asked(asks[0]), 0);
    EXPECT_EQ(block_asked(asks[1]), 0);
    EXPECT_FALSE(sent(sub_code::KEEP_ALIVE).empty());
    EXPECT_EQ(loop.op_state, operation_state::uploading);
}

TEST_F(UploadFlow, AFirstBlockThatCannotBeTakenEndsTheUploadWithItsReason) {
    struct fault {
        const char* name;
        const char* line;
    };
    const fault faults[] = {
        // An EEPROM_ACK for another type than asked for is not fetched under this get's name.
        {"another type", "EEPROM_ACK names file type 9 with index 1, but PA channel 2 was asked "
                         "for. Nothing is fetched\n"},
        {"empty block", "Upload ended: the unit sent a first block without data\n"},
        {"no such bank", "Upload ended: there is no bank 4\n"},
        {"size 0", "Upload ended: the unit reports no file there (size 0)\n"},
        {"EEPROM_ACK lost", "Upload ended: the unit reports no file there (size 0)\n"},
    };
    for (const fault& f : faults) {
        SetUp();
        const std::string name = f.name;
        session& loop = the_session();
        if (name == "another type") {
            begin_get(loop, file_type_pa, 1);
            unit_describes_eeprom(9, 1, 300, 0);
            unit_sends_block(0, pattern(300));
        } else if (name == "empty block") {
            fpga_image_of_bank2(1300);
            begin_get(loop, file_type_fpga, 2);
            unit_sends_file_ack(0, 0, {});
        } else if (name == "no such bank") {
            begin_get(loop, file_type_fpga, 4);
            unit_sends_block(0, pattern(512));
        } else if (name == "size 0") {
            fpga_image_of_bank2(0);
            begin_get(loop, file_type_fpga, 2);
            unit_sends_block(0, pattern(512));
        } else {
            // An earlier EEPROM's size must not be taken for this one's.
            op().file_size = 300;
            op().file_crc = crc_of(pattern(300));
            begin_get(loop, file_type_charger, 0);
            unit_sends_block(0, pattern(300));
        }
        loop.pass();
        EXPECT_EQ(out.text(), f.line) << name;
        EXPECT_EQ(loop.op_state, operation_state::idle) << name;
        EXPECT_EQ(op().redraw_request, 1) << name;
        EXPECT_FALSE(op().block_received.test()) << name;
        EXPECT_TRUE(operation_failed(u())) << name;
        EXPECT_EQ(sent(sub_code::FILE_REQ).size(), 1u) << name;
        EXPECT_FALSE(fs::exists("out") && !fs::is_empty("out")) << name;
    }
}

// Block numbers are 16 bits: a size that needs more blocks would wrap them and ask for block 0
// again for ever. An image's size is known from its record before the first request; an
// EEPROM's comes with EEPROM_ACK, and its first block asks for nothing more.
TEST_F(UploadFlow, ASizeBeyondWhatBlockNumbersCountIsRefusedWithTheSize) {
    const std::string refused = " is reported as 4294967295 bytes, in 8388608 blocks of 512 "
                                "bytes: more than Kestrel can fetch (65536 blocks, 33554432 "
                                "bytes). Nothing is fetched\n";
    session& loop = the_session();
    fpga_image_of_bank2(512);
    u().banks[2].fpga.size = 0xFFFFFFFFu;
    EXPECT_FALSE(::begin_get(u(), file_type_fpga, 2, loop.op_state));
    EXPECT_EQ(out.take(), "The FPGA image of bank 2" + refused);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    EXPECT_TRUE(operation_failed(u()));

    SetUp();
    session& eeprom = the_session();
    begin_get(eeprom, file_type_pa, 1);
    unit_describes_eeprom(file_type_pa, 1, 0xFFFFFFFFu, 0);
    unit_sends_block(0, pattern(512));
    eeprom.pass();
    EXPECT_EQ(out.take(), "PA channel 2" + refused);
    EXPECT_EQ(eeprom.op_state, operation_state::idle);
    EXPECT_EQ(sent(sub_code::FILE_REQ).size(), 1u);
    EXPECT_FALSE(fs::exists("out") && !fs::is_empty("out"));
}

TEST_F(UploadFlow, AnOutputFolderThatCannotBeMadeEndsTheUploadAtTheFirstBlock) {
    const std::string folder = output_path("missing", "out");  // its parent is not there
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    op().output_folder.assign(folder);
    unit_sends_block(0, image);
    loop.pass();
    EXPECT_EQ(out.text(), "Could not create " + output_path(folder, "FW_Bank2.bin") +
                              " \nError -1 writing to file FW_Bank2.bin in " + folder + "\n");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(sent(sub_code::FILE_REQ).size(), 1u);  // block 1 is not asked for
    EXPECT_TRUE(operation_failed(u()));
    EXPECT_FALSE(fs::exists("missing"));
}

// A failed read leaves the whole image read before as it is; one read after it is kept beside
// it under the next free name, and the run's list of files names it so.
TEST_F(UploadFlow, AFailedReadLeavesAnEarlierWholeImageAndALaterOneIsKeptBesideIt) {
    session& loop = the_session();
    const bytes earlier = fpga_image_of_bank2(1300, 3);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, earlier);
    ASSERT_EQ(content_of(fw2), earlier);
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, fpga_image_of_bank2(1300));
    loop.pass();
    EXPECT_EQ(content_of(fw2), earlier);  // blocks go to the temporary file
    out.take();
    unit_answers(sub_code::FILE_FAILED, {2, 0, 0, 0x05, 0x14, 1, 1});
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw2), earlier);
    EXPECT_FALSE(fs::exists(fw2_part));
    EXPECT_EQ(count_of(out.take(), removal_line("out", "FW_Bank2.bin")), 1u);

    const bytes later = fpga_image_of_bank2(1300, 7);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, later);
    const std::string kept = output_path("out", "FW_Bank2_2.bin");
    EXPECT_EQ(content_of(fw2), earlier);
    EXPECT_EQ(content_of(kept), later);
    EXPECT_FALSE(fs::exists(fw2_part));
    ASSERT_EQ(u().written.size(), 2u);
    EXPECT_EQ(u().written[1].path, kept);
}

// A folder of that name made by another run (with its stale temporary file) is left alone:
// the run's files go into a new folder, which the list of files written names.
TEST_F(UploadFlow, AFolderAnotherRunMadeIsLeftAlone) {
    fs::create_directory("out");
    write_file(fw2_part, bytes(5000, 0x55));
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, image);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    const std::string made = output_path("out_2", "FW_Bank2.bin");
    EXPECT_EQ(content_of(made), image);
    EXPECT_EQ(content_of(fw2_part), bytes(5000, 0x55));
    EXPECT_FALSE(fs::exists(fw2));
    ASSERT_EQ(u().written.size(), 1u);
    EXPECT_EQ(u().written[0].path, made);
}

TEST_F(UploadFlow, QuittingInTheMiddleRemovesTheUnfinishedFileAtTheEndOfTheRun) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, image);
    loop.pass();
    ASSERT_TRUE(fs::exists(fw2_part));
    set_key_script("Q");  // a command-line run takes its quit key at any time
    EXPECT_FALSE(loop.pass());
    EXPECT_EQ(out.take(), "");
    loop.finish();
    EXPECT_EQ(out.take(), removal_line("out", "FW_Bank2.bin"));
    EXPECT_FALSE(fs::exists(fw2_part));
    EXPECT_FALSE(fs::exists(fw2));
    EXPECT_FALSE(u().output.unfinished());
}

TEST_F(UploadFlow, ALogRightAfterAnUploadAsksForBlockZero) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    send_blocks(loop, image);
    ASSERT_EQ(loop.op_state, operation_state::idle);
    ASSERT_EQ(op().expected_seq, 2u);
    begin_log(u(), false, loop.op_state);
    const auto asks = sent(sub_code::LOG_REQ);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].bytes[log_req_at::block], 0);
    for (int read = 0; read < 2; ++read) {  // the log is read twice
        unit_sends_log_block(0, 1, 8, 8, text_bytes("only entry"));
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(out.text(), "Get Log\n");
    EXPECT_EQ(content_of(fs::path("out") / "log.txt").size(), 80u);
}

// ---- The log -----------------------------------------------------------------------------

class LogFlow : public TransferBench {
protected:
    bytes entries(int count) {
        bytes all(static_cast<std::size_t>(count) * 80, 0);
        for (int k = 0; k < count; ++k) {
            std::snprintf(reinterpret_cast<char*>(all.data() + k * 80), 80, "entry %d", k);
        }
        return all;
    }
};

TEST_F(LogFlow, ALostLogBlockIsAskedForAgainWhileTheBudgetLasts) {
    session& loop = the_session();
    op().verbose_level = 1;
    op().batch_mode = 1;
    op().output_folder.assign("run");
    const bytes log_entries = entries(12);
    begin_log(u(), false, loop.op_state);
    u().budgets.log = 2;
    unit_sends_log_block(0, 12, 16, 8, log_entries);
    loop.pass();
    out.take();
    run_for(loop, 1000);  // the first block came at once: 1 s of silence is allowed
    EXPECT_EQ(sent(sub_code::LOG_REQ).size(), 2u);
    run_for(loop, 100);
    const auto asks = sent(sub_code::LOG_REQ);
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(asks[2].bytes[log_req_at::block], 1);
    EXPECT_EQ(out.take(), "state12_retry seq no: 1\n\r");
    EXPECT_EQ(u().budgets.log, 1);
    unit_sends_log_block(1, 12, 16, 8, log_entries);
    loop.pass();
    for (std::uint8_t block = 0; block < 2; ++block) {  // the second read
        unit_sends_log_block(block, 12, 16, 8, log_entries);
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fs::path("run") / "log.txt"), log_entries);
    EXPECT_FALSE(operation_failed(u()));
}

// The log has no checksum: it is read twice, a block that differs between the reads is read
// until two reads agree, and log.txt holds what they agreed on. A block that never reads alike
// twice leaves no log.txt and fails the operation.
TEST_F(LogFlow, ABlockThatDiffersBetweenReadsIsReadUntilTwoReadsAgree) {
    const bytes log_entries = entries(12);
    bytes damaged = log_entries;
    damaged[700] ^= 0x80;  // in block 1
    for (const bool settles : {true, false}) {
        SetUp();
        fs::remove_all("run");
        session& loop = the_session();
        op().batch_mode = 1;
        op().output_folder.assign("run");
        begin_log(u(), false, loop.op_state);
        // First read with block 1 damaged; then 0 alike, 1 right twice (or damaged otherwise
        // every time).
        std::vector<std::pair<std::uint8_t, bytes>> reads = {
            {0, log_entries}, {1, damaged}, {0, log_entries}, {1, log_entries}};
        for (std::uint8_t k = 0; k < (settles ? 1 : 4); ++k) {
            bytes other = log_entries;
            other[700] ^= static_cast<std::uint8_t>(settles ? 0 : 1 << k);
            reads.emplace_back(1, other);
        }
        for (const auto& [block, data] : reads) {
            ASSERT_EQ(loop.op_state, operation_state::fetching_log);
            unit_sends_log_block(block, 12, 16, 8, data);
            loop.pass();
        }
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_EQ(sent(sub_code::LOG_REQ).size(), reads.size());
        if (settles) {
            EXPECT_EQ(content_of(fs::path("run") / "log.txt"), log_entries);
            EXPECT_EQ(u().upload.blocks_read_again, 1u);
            EXPECT_FALSE(operation_failed(u()));
        } else {
            EXPECT_FALSE(fs::exists(fs::path("run") / "log.txt"));
            EXPECT_NE(out.text().find("The log's block 1 differed between every read: no log.txt "
                                      "is written\n"),
                      std::string::npos);
            EXPECT_TRUE(operation_failed(u()));
        }
    }
}

TEST_F(LogFlow, ACommandLineRunKeepsItsFolderAndAnInteractiveRunMakesANewOne) {
    for (const int batch : {1, 0}) {
        SetUp();
        session& loop = the_session();
        op().batch_mode = batch;
        op().output_folder.assign("run");
        begin_log(u(), false, loop.op_state);
        for (int read = 0; read < 2; ++read) {
            unit_sends_log_block(0, 3, 8, 8, entries(3));
            loop.pass();
        }
        EXPECT_EQ(loop.op_state, operation_state::idle);
        const std::string used = op().output_folder.c_str();
        if (batch != 0) {
            EXPECT_EQ(used, "run");
        } else {
            EXPECT_NE(used, "run");
            EXPECT_EQ(used.size(), std::string("2026_03_02_09_05_07").size()) << used;
        }
        EXPECT_EQ(content_of(fs::path(used) / "log.txt"), entries(3)) << batch;
        fs::remove_all(used);
    }
}

TEST_F(LogFlow, ALogThatCannotBeWrittenCountsAsAFailure) {
    session& loop = the_session();
    op().batch_mode = 1;
    op().output_folder.assign(output_path("missing", "run"));
    begin_log(u(), false, loop.op_state);
    out.take();
    for (int read = 0; read < 2; ++read) {
        unit_sends_log_block(0, 3, 8, 8, entries(3));
        loop.pass();
    }
    EXPECT_EQ(out.text(), "Could not create " + output_path(output_path("missing", "run"), "log.txt") + " \n");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().expected_seq, 0u);
    EXPECT_TRUE(operation_failed(u()));
    EXPECT_EQ(loop.exit_status(), exit_operation_failed);
    EXPECT_FALSE(u().output.unfinished());
}

TEST_F(LogFlow, AnEmptyLogGivesAnEmptyFileAndAnEmptyListing) {
    session& loop = the_session();
    op().batch_mode = 1;
    op().output_folder.assign("run");
    begin_log(u(), false, loop.op_state);
    loop.op_state = operation_state::fetching_log_to_view;
    for (int read = 0; read < 2; ++read) {
        unit_sends_log_block(0, 0, 8, 8, {});
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(out.text(), "Get Log\n\n\r");
    const fs::path file = fs::path("run") / "log.txt";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(op().redraw_request, 0);  // the listing stays on screen
    EXPECT_FALSE(operation_failed(u()));
}

// ---- Command-line runs -------------------------------------------------------------------

// A whole command-line run through the operation loop: the options parsed from a real command
// line, the connection, the operations one after another, the end of the run and its status.
class BatchTransfer : public TransferBench {
protected:
    void parse(const std::vector<std::string>& args) {
        parse_test_command_line(options, block, out, args);
    }
    // Start-up and connection with the unit running from `bank`; bank 2's FPGA image as given.
    void connect(session& loop, std::uint8_t bank, std::uint32_t fpga2_size = 0,
                        std::uint32_t fpga2_crc = 0) {
        loop.start("tester", 0, false, false);
        ASSERT_EQ(op().batch_mode, 1);
        unit_reports_boot(bank);
        ASSERT_TRUE(loop.pass());
        unit_reports_flash(fpga2_size, fpga2_crc);
        ASSERT_TRUE(loop.pass());
        ASSERT_EQ(loop.op_state, operation_state::idle);
    }
    // Idle passes until the next operation has started (an option such as /bank takes a pass
    // of its own and starts nothing).
    void start_next(session& loop) {
        for (int k = 0; k < 10 && loop.op_state == operation_state::idle; ++k) {
            ASSERT_TRUE(loop.pass());
        }
    }
    // Passes until the loop ends; false when it did not end within `limit` passes.
    bool run_to_the_end(session& loop, int limit = 100) {
        for (int k = 0; k < limit; ++k) {
            FakeClockAndLink::now_ms() += 100;
            if (!loop.pass()) {
                return true;
            }
        }
        return false;
    }
    // Serves a download the way the unit does, up to the end of the bank refresh.
    void serve_download(session& loop, bool fail_at_second_chunk = false) {
        for (int guard = 0; guard < 200 && loop.op_state != operation_state::idle; ++guard) {
            FakeClockAndLink::now_ms() += 10;
            switch (loop.op_state) {
            case operation_state::awaiting_dl_ready:
                unit_answers(sub_code::DL_READY);
                break;
            case operation_state::awaiting_info_ack:
                unit_answers(sub_code::FIRMWARE_INFO_ACK);
                break;
            case operation_state::awaiting_chunk_answer:
                if (fail_at_second_chunk && op().seq_no == 2) {
                    unit_answers(sub_code::DL_FAIL, {0, 1});
                } else {
                    unit_answers(sub_code::DL_ACK, {0, 0});
                }
                break;
            case operation_state::awaiting_bank_records:
                unit_reports_flash();
                break;
            default:
                break;
            }
            loop.pass();
        }
    }

    arg_block block;
};

TEST_F(BatchTransfer, AGetRunRebootsIntoTheLoaderFetchesTheImageAndEndsWithZero) {
    parse({"+get_fw", "/bank", "2"});
    session& loop = the_session();
    const bytes image = pattern(1300, 4);
    connect(loop, 1, 1300, crc_of(image));
    out.take();
    FakeClockAndLink::sent().clear();
    ASSERT_TRUE(loop.pass());  // idle: the get starts
    EXPECT_EQ(out.take(), "Get FW from bank 2\n");
    EXPECT_EQ(loop.op_state, operation_state::uploading);
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::REBOOT_REQ));
    unit_reports_boot(0);
    loop.pass();
    for (std::uint16_t k = 0; k < 3; ++k) {
        unit_sends_block(k, image);
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(blocks_asked(), (std::vector<std::uint16_t>{0, 1, 2}));
    EXPECT_TRUE(run_to_the_end(loop));
    loop.finish();
    EXPECT_EQ(loop.exit_status(), 0);
    const std::string run_folder = op().output_folder.c_str();
    EXPECT_EQ(content_of(fs::path(run_folder) / "FW_Bank2.bin"), image);
    EXPECT_EQ(out.text(), "");
}

TEST_F(BatchTransfer, AFailedGetMakesTheRunEndWithFourAfterTheOperationsThatFollow) {
    parse({"+get_fw", "/bank", "2", "+get_log"});
    session& loop = the_session();
    const bytes image = pattern(1300, 4);
    connect(loop, 0, 1300, crc_of(image));
    ASSERT_TRUE(loop.pass());
    ASSERT_EQ(loop.op_state, operation_state::uploading);
    unit_sends_block(0, image);
    loop.pass();
    unit_answers(sub_code::FILE_FAILED, {1, 0, 0, 0x05, 0x14, 1, 1});
    loop.pass();
    ASSERT_EQ(loop.op_state, operation_state::idle);
    const std::string run_folder = op().output_folder.c_str();
    EXPECT_FALSE(fs::exists(fs::path(run_folder) / "FW_Bank2.bin"));
    EXPECT_FALSE(fs::exists(unfinished_path((fs::path(run_folder) / "FW_Bank2.bin").string())));
    // The run goes on with the log, which succeeds; the status still tells of the failure.
    start_next(loop);
    ASSERT_EQ(loop.op_state, operation_state::fetching_log);
    for (int read = 0; read < 2; ++read) {
        unit_sends_log_block(0, 2, 8, 8, text_bytes("first"));
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_TRUE(fs::exists(fs::path(run_folder) / "log.txt"));
    EXPECT_TRUE(run_to_the_end(loop));
    EXPECT_EQ(loop.exit_status(), exit_operation_failed);
}

TEST_F(BatchTransfer, TwoDownloadsEachStartAtChunkZeroAndEachEndsWithTheBankRefresh) {
    write_file("a.bin", pattern(1100, 1));
    write_file("b.srec", pattern(600, 2));
    parse({"/load_fw", "a.bin", "/load_sw", "b.srec", "/bank", "3", "/comment", "night build"});
    session& loop = the_session();
    connect(loop, 0);
    out.take();
    FakeClockAndLink::sent().clear();
    ASSERT_TRUE(loop.pass());
    EXPECT_EQ(loop.op_state, operation_state::preparing_download);
    serve_download(loop);
    EXPECT_EQ(sent(sub_code::FLASH_INFO_REQ).size(), 1u);
    auto chunks = sent(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunk_number(chunks[0]), 0);
    EXPECT_EQ(chunk_number(chunks[2]), 2);

    FakeClockAndLink::sent().clear();
    ASSERT_TRUE(loop.pass());  // the second operation starts after the pause
    EXPECT_EQ(loop.op_state, operation_state::preparing_download);
    serve_download(loop);
    chunks = sent(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunk_number(chunks[0]), 0);
    EXPECT_EQ(chunk_number(chunks[1]), 1);
    EXPECT_EQ(get_be16(chunks[1].bytes.data() + dl_data_at::data_length), 88);
    const auto info = sent(sub_code::FIRMWARE_INFO);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].bytes[firmware_info_at::file_type], file_type_software);
    EXPECT_EQ(info[0].bytes[firmware_info_at::bank], 3);
    EXPECT_EQ(get_be32(info[0].bytes.data() + firmware_info_at::file_size), 600u);
    EXPECT_EQ(text_at(info[0].bytes, firmware_info_at::file_name), "b.srec");
    EXPECT_EQ(text_at(info[0].bytes, firmware_info_at::comment), "night build");

    EXPECT_EQ(out.text(),
              "Save FW a.bin to bank 3\n\ndownload completed\n"
              "Save SW b.srec to bank 3\n\ndownload completed\n");
    EXPECT_TRUE(run_to_the_end(loop));
    EXPECT_EQ(loop.exit_status(), 0);
}

TEST_F(BatchTransfer, AFailedDownloadStillRefreshesTheBanksAndTheRunEndsWithFour) {
    write_file("a.bin", pattern(1100, 1));
    parse({"/load_fw", "a.bin", "/bank", "2"});
    session& loop = the_session();
    connect(loop, 0);
    ASSERT_TRUE(loop.pass());
    serve_download(loop, true);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(sent(sub_code::DL_DATA).size(), 2u);
    EXPECT_EQ(sent(sub_code::FLASH_INFO_REQ).size(), 2u);  // at connection and after the failure
    EXPECT_NE(out.text().find("\ndownload failed\n"), std::string::npos);
    EXPECT_TRUE(run_to_the_end(loop));
    EXPECT_EQ(loop.exit_status(), exit_operation_failed);
}

TEST_F(BatchTransfer, ARunThatCannotConnectEndsWithFourAndAnInteractiveOneWithZero) {
    for (const bool batch : {true, false}) {
        SetUp();
        if (batch) {
            parse({"+get_log"});
        }
        session& loop = the_session();
        loop.start("", 0, false, false);
        bool ended = false;
        for (int k = 0; k < 400 && !ended; ++k) {
            FakeClockAndLink::now_ms() += 100;
            ended = !loop.pass();
        }
        EXPECT_EQ(ended, batch);
        EXPECT_EQ(op().link_state, link_not_connected);
        EXPECT_TRUE(operation_failed(u()));
        EXPECT_EQ(loop.exit_status(), batch ? exit_operation_failed : 0) << batch;
        EXPECT_TRUE(sent(sub_code::LOG_REQ).empty());
    }
}

TEST_F(BatchTransfer, AStartedRunForgetsTheFailuresOfAnEarlierOne) {
    note_operation_failed(u(), "an earlier run");
    parse({"+get_log"});
    session& loop = the_session();
    connect(loop, 0);
    EXPECT_FALSE(operation_failed(u()));
    ASSERT_TRUE(loop.pass());
    for (int read = 0; read < 2; ++read) {
        unit_sends_log_block(0, 1, 8, 8, text_bytes("one"));
        loop.pass();
    }
    EXPECT_TRUE(run_to_the_end(loop));
    EXPECT_EQ(loop.exit_status(), 0);
}

}  // namespace
