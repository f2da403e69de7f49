// Downloads, uploads and the log, driven pass by pass through the operation loop with a fake
// clock: what goes out on the link, what is printed, which files are left in the output folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/batch_operations.h"
#include "app/session.h"
#include "console/bank_table.h"
#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/keys.h"
#include "files/output_files.h"
#include "link/byte_order.h"
#include "link/crc.h"
#include "link/serial_port.h"
#include "protocol/actions.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "support/transfer_bench.h"
#include "support/unit_answers.h"

namespace {

namespace fs = std::filesystem;

using bytes = std::vector<std::uint8_t>;

class TransferTest : public TransferBench {
protected:
    // Passes with the clock moving `step` ms before each, for `ms` ms or until the operation
    // has ended (idle, or awaiting_bank_records after a download).
    void run_for(session& loop, std::uint32_t ms, std::uint32_t step = 100,
                        bool stop_at_end = true) {
        run_passes(loop, ms, step, [&loop, stop_at_end] {
            return stop_at_end && (loop.op_state == operation_state::idle || loop.op_state == operation_state::awaiting_bank_records);
        });
    }

    // ---- downloads ----
    bytes make_file(std::size_t size) {
        bytes data = pattern(size);
        write_file("image.bin", data);
        choose("image.bin");
        return data;
    }
    void choose(const std::string& name) {
        op().file_path = name;
        op().file_name.assign(name);
        op().file_type = file_type_fpga;
        op().bank = 2;
    }

    // The block the last FILE_REQ asked for.
    static std::uint16_t last_block_asked() {
        return block_asked(FakeClockAndLink::sent_of(sub_code::FILE_REQ).back());
    }
};

const fs::path fw_bank2 = fs::path("out") / "FW_Bank2.bin";
const fs::path fw_bank2_part = fs::path(unfinished_path(fw_bank2.string()));

}  // namespace

// ---- Downloads ---------------------------------------------------------------------------

TEST_F(TransferTest, ChunksAreFullSizedNumberedBigEndianAndCarryTheFileExactly) {
    for (const std::size_t size : {std::size_t{1024}, std::size_t{1025}}) {
        SetUp();
        session& loop = the_session();
        const bytes data = make_file(size);
        announce(loop);
        ack_every_chunk(loop);
        EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);

        const auto info = FakeClockAndLink::sent_of(sub_code::FIRMWARE_INFO);
        ASSERT_EQ(info.size(), 1u);
        ASSERT_EQ(info[0].bytes.size(), 152u);
        EXPECT_EQ(get_be32(info[0].bytes.data() + 12), size);
        EXPECT_EQ(get_be32(info[0].bytes.data() + 16), crc_of(data));

        const auto chunks = FakeClockAndLink::sent_of(sub_code::DL_DATA);
        ASSERT_EQ(chunks.size(), size == 1024 ? 2u : 3u) << size;
        for (std::size_t k = 0; k < chunks.size(); ++k) {
            const bytes& c = chunks[k].bytes;
            ASSERT_EQ(c.size(), 522u);
            EXPECT_EQ(bytes(c.begin(), c.begin() + 6), (bytes{0x2A, 0x10, 0x02, 0x05, 0x55, 0x11}));
            EXPECT_EQ(c[6], 0);  // chunk number, high byte first
            EXPECT_EQ(c[7], k);
            const std::size_t valid = std::min<std::size_t>(512, size - k * 512);
            EXPECT_EQ(get_be16(c.data() + 8), valid) << size << " chunk " << k;
            EXPECT_EQ(bytes(c.begin() + 10, c.begin() + 10 + static_cast<long>(valid)),
                      bytes(data.begin() + static_cast<long>(k * 512),
                            data.begin() + static_cast<long>(k * 512 + valid)));
        }
        EXPECT_EQ(out.take(), "\ndownload completed\n");
        EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::FLASH_INFO_REQ));
        EXPECT_EQ(op().seq_no, 0u);
        EXPECT_EQ(op().seq_count, 0u);
    }
}

TEST_F(TransferTest, StaleAnswersAreClearedBeforeEachRequest) {
    session& loop = the_session();
    make_file(700);
    op().dl_ready.raise();  // left over from an earlier download
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    EXPECT_FALSE(op().dl_ready.test());
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::awaiting_dl_ready);

    op().fwinfo_acked.raise();
    op().chunk_failed.raise();
    unit_answers(sub_code::DL_READY);
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::awaiting_info_ack);
    EXPECT_FALSE(op().fwinfo_acked.test());
    EXPECT_FALSE(op().chunk_failed.test());

    unit_answers(sub_code::FIRMWARE_INFO_ACK);
    loop.pass();
    op().chunk_acked.raise();
    loop.pass();  // chunk 0 goes out
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::awaiting_chunk_answer);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_DATA).size(), 1u);
}

TEST_F(TransferTest, WaitingForTheBootLoaderRetriesOnceThenGivesUp) {
    session& loop = the_session();
    make_file(100);
    op().current_bank = 2;
    op().verbose_level = 1;
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    EXPECT_EQ(out.take(), "Waiting for booting to bank 0 and start downloading image.bin\n");
    run_for(loop, 39900);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_REQ).size(), 1u);  // 40 s are allowed
    EXPECT_EQ(loop.op_state, operation_state::awaiting_dl_ready);
    run_for(loop, 20000);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_REQ).size(), 2u);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_dl_ready);
    EXPECT_EQ(out.take(), "state3_retry : 1\n\r");
    run_for(loop, 45000);
    EXPECT_EQ(out.take(), "Unable to send file to unit. Too many retries\n\r");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_REQ).size(), 2u);
    EXPECT_EQ(op().retry_count, 2);
    EXPECT_TRUE(FakeClockAndLink::sent_of(sub_code::FIRMWARE_INFO).empty());
}

// A lost FIRMWARE_INFO_ACK is asked for again twice, a late one carries the download on, and
// only the third time-out ends it. Every download starts with the whole budget.
TEST_F(TransferTest, ALostFirmwareInfoAckIsAskedForAgain) {
    session& loop = the_session();
    make_file(100);
    for (int download = 0; download < 2; ++download) {
        FakeClockAndLink::sent().clear();
        loop.op_state = operation_state::preparing_download;
        loop.pass();
        unit_answers(sub_code::DL_READY);
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::awaiting_info_ack);
        run_for(loop, 10100);
        run_for(loop, 10100);
        EXPECT_EQ(loop.op_state, operation_state::awaiting_info_ack);
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FIRMWARE_INFO).size(), 3u);
        if (download == 0) {
            unit_answers(sub_code::FIRMWARE_INFO_ACK);
            loop.pass();
            EXPECT_EQ(loop.op_state, operation_state::sending_chunk);
            continue;
        }
        out.take();
        run_for(loop, 10100);
        EXPECT_EQ(out.take(), "Timeout. Operation aborted\n");
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FIRMWARE_INFO).size(), 3u);
    }
}

TEST_F(TransferTest, AFailedChunkEndsTheDownloadWithoutRepeatingAnything) {
    session& loop = the_session();
    make_file(3 * 512);
    announce(loop);
    unit_answers(sub_code::DL_ACK, {0, 0});
    loop.pass();
    loop.pass();  // chunk 1
    unit_answers(sub_code::DL_FAIL, {0, 1});
    loop.pass();
    EXPECT_EQ(out.take(), "\ndownload failed\n");
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_FALSE(op().chunk_failed.test());
    const auto chunks = FakeClockAndLink::sent_of(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes[7], 0);
    EXPECT_EQ(chunks[1].bytes[7], 1);
    EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::FLASH_INFO_REQ));
    EXPECT_TRUE(operation_failed(u()));
}

// Chunk 0's answer came at once: chunk 1's silence is waited out for a second, and the chunk
// sent again whole. Its first answer, only late, comes after all: the second answer, to the copy,
// is taken out of the way before chunk 2 goes.
TEST_F(TransferTest, ALostChunkAnswerSendsTheSameChunkAgainAndASecondAnswerIsNotTakenForTheNext) {
    session& loop = the_session();
    make_file(1300);
    op().verbose_level = 1;
    announce(loop);
    unit_answers(sub_code::DL_ACK, {0, 0});
    loop.pass();
    loop.pass();  // chunk 1 goes out and is not answered
    out.take();
    run_for(loop, 1200, 100, false);
    auto chunks = FakeClockAndLink::sent_of(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2].bytes, chunks[1].bytes);
    EXPECT_EQ(chunks[2].bytes[7], 1);
    EXPECT_EQ(fake.link.small_pieces, false);
    EXPECT_EQ(out.take(), "\nstate6_retry seq no: 1 Retry: 49\n\r");
    for (int answer = 0; answer < 2; ++answer) {
        unit_answers(sub_code::DL_ACK, {0, 0});
        loop.pass();
        loop.pass();
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_DATA).size(), 3u + answer) << answer;
    }
    ack_every_chunk(loop);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    chunks = FakeClockAndLink::sent_of(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(get_be16(chunks[3].bytes.data() + 6), 2);
    EXPECT_EQ(get_be16(chunks[3].bytes.data() + 8), 276);
    EXPECT_NE(out.take().find("\ndownload completed\n"), std::string::npos);
    EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::FLASH_INFO_REQ));
}

TEST_F(TransferTest, AFileThatCannotBeReadAnyMoreEndsTheOperationOnce) {
    session& loop = the_session();
    choose("gone.bin");  // chosen, then removed
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_TRUE(operation_failed(u()));
    loop.pass();
    loop.pass();
    EXPECT_EQ(count_of(out.text(), "Could not open gone.bin \n"), 1u) << out.text();
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
}

TEST_F(TransferTest, MoreChunksThanSixteenBitNumbersCanCountAreRefused) {
    {
        session& loop = the_session();
        choose("huge.bin");
        std::ofstream("huge.bin", std::ios::binary).close();
        fs::resize_file("huge.bin", 65536u * 512u + 1u);
        loop.op_state = operation_state::preparing_download;
        loop.pass();
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_FALSE(out.take().empty());
        EXPECT_TRUE(FakeClockAndLink::sent().empty());
        EXPECT_TRUE(operation_failed(u()));
    }
    {
        SetUp();
        session& loop = the_session();
        choose("huge.bin");
        fs::resize_file("huge.bin", 65536u * 512u);
        loop.op_state = operation_state::preparing_download;
        loop.pass();
        EXPECT_EQ(loop.op_state, operation_state::awaiting_dl_ready);
        EXPECT_EQ(op().seq_count, 65536u);
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::DL_REQ).size(), 1u);
        EXPECT_EQ(out.take(), "");
    }
}

TEST_F(TransferTest, OnTheSerialLinkLostAnswersAreAskedForAgainDespiteKeepAlives) {
    on_serial_link();
    session& loop = the_session();
    make_file(600);
    op().last_send_tick = FakeClockAndLink::now_ms();  // as after connecting
    loop.op_state = operation_state::preparing_download;
    loop.pass();
    const std::uint32_t asked = FakeClockAndLink::now_ms();
    run_for(loop, 41000, 100, false);
    // Three keep-alives while waiting for DL_READY; they do not restart the 40-s wait.
    const auto ready_asks = FakeClockAndLink::sent_of(sub_code::DL_REQ);
    ASSERT_EQ(ready_asks.size(), 2u);
    EXPECT_LE(ready_asks[1].time - asked, 40200u);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).size(), 3u);

    unit_answers(sub_code::DL_READY);
    loop.pass();
    unit_answers(sub_code::FIRMWARE_INFO_ACK);
    loop.pass();
    loop.pass();
    ASSERT_EQ(loop.op_state, operation_state::awaiting_chunk_answer);
    const std::size_t alive_before = FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).size();
    const std::uint32_t sent_at = FakeClockAndLink::now_ms();
    run_for(loop, 15000, 100, false);  // the DL_ACK is lost
    const auto chunks = FakeClockAndLink::sent_of(sub_code::DL_DATA);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].time, sent_at);
    EXPECT_LE(chunks[1].time - sent_at, 10300u);
    EXPECT_EQ(chunks[1].bytes, chunks[0].bytes);
    EXPECT_GT(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).size(), alive_before);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_chunk_answer);
}

// ---- Uploads -----------------------------------------------------------------------------

TEST_F(TransferTest, AGetAwayFromBankZeroRebootsFirstAndAsksOnTheBootReport) {
    session& loop = the_session();
    op().current_bank = 2;
    begin_get(loop, file_type_fpga, 2);
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::REBOOT_REQ));
    EXPECT_EQ(FakeClockAndLink::sent()[0].bytes[6], 0x80);
    loop.pass();
    EXPECT_TRUE(FakeClockAndLink::sent_of(sub_code::FILE_REQ).empty());
    unit_answers(sub_code::BOOTINFO_ACK, {0});
    loop.pass();
    const auto asks = FakeClockAndLink::sent_of(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].bytes, (bytes{0x2A, 0x10, 0x00, 0x07, 0x55, 0x09, 2, 1, 0x02, 0x00, 0, 0}));
    EXPECT_EQ(op().active_bank, 0);
    EXPECT_EQ(op().boot_status, boot_status_none);
    EXPECT_EQ(loop.op_state, operation_state::uploading);
}

TEST_F(TransferTest, AnImageOfThreeBlocksGetsItsNameOnlyWhenComplete) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    for (std::uint16_t block = 0; block < 3; ++block) {
        EXPECT_EQ(last_block_asked(), block);
        unit_sends_block(block, image);
        loop.pass();
        if (block < 2) {
            EXPECT_TRUE(fs::exists(fw_bank2_part)) << block;
            EXPECT_FALSE(fs::exists(fw_bank2)) << block;
            EXPECT_EQ(fs::file_size(fw_bank2_part), (block + 1) * 512u);
            EXPECT_EQ(loop.op_state, operation_state::uploading);
        }
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw_bank2), image);
    EXPECT_FALSE(fs::exists(fw_bank2_part));
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FILE_REQ).size(), 3u);
    EXPECT_FALSE(operation_failed(u()));
    EXPECT_EQ(out.text(), "");
}

// A read whose CRC-32 does not match is read again, every block, three times over; when it still
// does not match, it ends with no file.
TEST_F(TransferTest, AWrongCrcIsReadAgainThreeTimesAndThenLeavesNoFile) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300, 1, 0x00010000u);
    begin_get(loop, file_type_fpga, 2);
    for (int read = 0; read <= repair_passes; ++read) {
        for (std::uint16_t block = 0; block < 3; ++block) {
            ASSERT_EQ(loop.op_state, operation_state::uploading) << read << " " << block;
            unit_sends_block(block, image);
            loop.pass();
        }
    }
    char crc_line[80];
    std::snprintf(crc_line, sizeof crc_line, "CRC32 Error %08X expected %08X\n\r", crc_of(image),
                  crc_of(image) ^ 0x00010000u);
    EXPECT_EQ(out.text(), std::string(crc_line) + removal_line("out", "FW_Bank2.bin"));
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FILE_REQ).size(), 12u);
    EXPECT_EQ(u().upload.blocks_read_again, 9u);
    EXPECT_FALSE(fs::exists(fw_bank2));
    EXPECT_FALSE(fs::exists(fw_bank2_part));
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_TRUE(operation_failed(u()));
}

// A high bit flipped on the line passes the line's checksum; only the CRC-32 the unit reported
// shows it. The file is read again, each block that differs until two reads agree, and kept
// right: a 300-byte EEPROM of PA channel 3 (one block, checked against EEPROM_ACK), and a
// 1300-byte FPGA image whose first and last blocks were damaged, the last one twice.
TEST_F(TransferTest, ADamagedReadIsRepairedBlockByBlock) {
    const bytes eeprom = pattern(300);
    const bytes image = pattern(1300, 2);
    session& loop = the_session();
    op().verbose_level = 1;
    begin_get(loop, file_type_pa, 2);
    bytes ack = {5, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    put_be32(ack.data() + 2, 300);
    put_be32(ack.data() + 6, crc_of(eeprom));
    unit_answers(sub_code::EEPROM_ACK, ack);
    loop.pass();
    bytes damaged = eeprom;
    damaged[18] ^= 0x40;
    for (const bytes* read : std::vector<const bytes*>{&damaged, &eeprom, &eeprom}) {
        unit_sends_block(0, *read);
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fs::path("out") / "PA_Channel3.eeprom"), eeprom);
    EXPECT_EQ(u().upload.blocks_read_again, 2u);
    EXPECT_NE(out.take().find("Block 0 differed between reads; read again\n"), std::string::npos);

    u().banks[2].fpga.size = 1300;
    u().banks[2].fpga.crc = crc_of(image);
    begin_get(loop, file_type_fpga, 2);
    bytes bad = image;
    bad[8] ^= 0x80;
    bad[1100] ^= 0x10;
    bytes worse = image;
    worse[1100] ^= 0x20;
    // First read: blocks 0 and 2 damaged. Again: 0 right twice, 1 alike, 2 damaged otherwise,
    // then right twice.
    const std::vector<std::pair<std::uint16_t, const bytes*>> reads = {
        {0, &bad}, {1, &bad}, {2, &bad}, {0, &image}, {0, &image}, {1, &image},
        {2, &worse}, {2, &image}, {2, &image}};
    for (const auto& [block, file] : reads) {
        ASSERT_EQ(loop.op_state, operation_state::uploading);
        unit_sends_block(block, *file);
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fs::path("out") / "FW_Bank2.bin"), image);
    EXPECT_EQ(u().upload.blocks_read_again, 6u);
    EXPECT_FALSE(operation_failed(u()));
    EXPECT_EQ(count_of(out.text(), "differed between reads"), 2u) << out.text();
}

TEST_F(TransferTest, ABlockWithTheWrongNumberIsAskedForAgain) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    unit_sends_block(0, image);
    loop.pass();
    unit_sends_block(1, image);
    loop.pass();
    unit_sends_block(3, image);
    loop.pass();
    EXPECT_EQ(out.take(), "Error in receiving the file. Seq no mismatch 2 3\n");
    EXPECT_EQ(loop.op_state, operation_state::uploading);
    const auto asks = FakeClockAndLink::sent_of(sub_code::FILE_REQ);
    ASSERT_EQ(asks.size(), 4u);
    EXPECT_EQ(block_asked(asks[2]), 2);
    EXPECT_EQ(block_asked(asks[3]), 2);
    unit_sends_block(2, image);
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fw_bank2), image);
}

TEST_F(TransferTest, AnUploadEndingEarlyRemovesItsFile) {
    {
        session& loop = the_session();
        const bytes image = fpga_image_of_bank2(1300);
        begin_get(loop, file_type_fpga, 2);
        unit_sends_block(0, image);
        loop.pass();
        ASSERT_TRUE(fs::exists(fw_bank2_part));
        out.take();
        unit_answers(sub_code::FILE_FAILED, {1, 0, 0, 0x05, 0x14, 1, 1});
        loop.pass();
        EXPECT_EQ(out.take(), "FILE_FAILED error 1 size 1300 type 1 no 1\nFile upload failed\n" +
                                  removal_line("out", "FW_Bank2.bin"));
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_FALSE(fs::exists(fw_bank2_part));
        EXPECT_FALSE(fs::exists(fw_bank2));
        EXPECT_TRUE(operation_failed(u()));
    }
    {
        SetUp();
        fs::remove_all("out");  // a new run: the folder is made again
        session& loop = the_session();
        const bytes image = fpga_image_of_bank2(1300);
        begin_get(loop, file_type_fpga, 2);
        unit_sends_block(0, image);
        loop.pass();
        run_for(loop, 600000, 1000);  // block 1 never comes
        EXPECT_EQ(out.text(), "Unable to get the file from the unit. Too many retries\n\r" +
                                  removal_line("out", "FW_Bank2.bin"));
        EXPECT_EQ(loop.op_state, operation_state::idle);
        // Blocks 0 and 1 asked for, block 1 again 49 times; the 50th time-out gives up.
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FILE_REQ).size(), 51u);
        EXPECT_EQ(op().retry_count, 50);
        EXPECT_FALSE(fs::exists(fw_bank2_part));
        EXPECT_TRUE(operation_failed(u()));
    }
}

TEST_F(TransferTest, AFirstBlockThatCannotBeSizedOrNamedEndsTheUpload) {
    enum { empty_block, unknown_type, no_image };
    for (const int fault : {empty_block, unknown_type, no_image}) {
        SetUp();
        session& loop = the_session();
        if (fault == unknown_type) {
            begin_get(loop, file_type_pa, 1);
            unit_answers(sub_code::EEPROM_ACK, {9, 1, 0, 0, 0x01, 0x2C, 0, 0, 0, 0});
            unit_sends_block(0, pattern(300));
        } else {
            fpga_image_of_bank2(fault == no_image ? 0 : 1300);
            begin_get(loop, file_type_fpga, 2);
            if (fault == empty_block) {
                unit_answers(sub_code::FILE_ACK, {0, 0, 0, 0});
            } else {
                unit_sends_block(0, pattern(512));
            }
        }
        loop.pass();
        EXPECT_EQ(loop.op_state, operation_state::idle) << fault;
        EXPECT_FALSE(out.text().empty()) << fault;
        EXPECT_EQ(out.text().find("Incomplete file"), std::string::npos) << out.text();
        EXPECT_FALSE(fs::exists("out") && !fs::is_empty("out")) << fault;
        EXPECT_TRUE(operation_failed(u())) << fault;
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FILE_REQ).size(), 1u) << fault;
    }
}

TEST_F(TransferTest, AKeyStartingAnotherOperationRemovesTheUnfinishedFile) {
    session& loop = the_session();
    const bytes image = fpga_image_of_bank2(1300);
    begin_get(loop, file_type_fpga, 2);
    op().batch_mode = 0;
    op().link_state = link_connected;
    unit_sends_block(0, image);
    loop.pass();
    ASSERT_TRUE(fs::exists(fw_bank2_part));
    set_key_script("t");  // fetch the log
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::fetching_log);
    EXPECT_FALSE(fs::exists(fw_bank2_part));
    EXPECT_FALSE(fs::exists(fw_bank2));
    EXPECT_EQ(out.text(), "Get Log\n" + removal_line("out", "FW_Bank2.bin"));
    EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::LOG_REQ));
    EXPECT_EQ(FakeClockAndLink::sent().back().bytes[6], 0);  // the log starts at its block 0
    EXPECT_EQ(op().expected_seq, 0u);
}

// ---- The log -----------------------------------------------------------------------------

TEST_F(TransferTest, ALogOfTwoBlocksIsWrittenAndListed) {
    bytes entries(16 * 80, 0);
    for (int k = 0; k < 16; ++k) {
        std::snprintf(reinterpret_cast<char*>(entries.data() + k * 80), 80, "event %d at %d", k,
                      1000 + k);
    }
    for (const bool view : {false, true}) {
        SetUp();
        session& loop = the_session();
        begin_log(u(), view, loop.op_state);
        for (int read = 0; read < 2; ++read) {  // the log is read twice
            for (std::uint8_t block = 0; block < 2; ++block) {
                bytes params = {11, 80, 16, block, 8};
                params.insert(params.end(), entries.begin() + block * 640,
                              entries.begin() + (block + 1) * 640);
                unit_answers(sub_code::MESSAGE_LOG_ACK, params);
                loop.pass();
            }
        }
        const auto asks = FakeClockAndLink::sent_of(sub_code::LOG_REQ);
        ASSERT_EQ(asks.size(), 4u);
        EXPECT_EQ(asks[0].bytes[6], 0);
        EXPECT_EQ(asks[1].bytes[6], 1);
        EXPECT_EQ(asks[2].bytes[6], 0);
        EXPECT_EQ(asks[3].bytes[6], 1);
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_EQ(op().expected_seq, 0u);
        const std::string folder = op().output_folder.c_str();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(content_of(fs::path(folder) / "log.txt"),
                  bytes(entries.begin(), entries.begin() + 11 * 80));
        std::string expected = "Get Log\n";
        if (view) {
            expected += "\n\r";
            for (int k = 0; k < 11; ++k) {
                char line[40];
                std::snprintf(line, sizeof line, "%2d: event %d at %d\n", k, k, 1000 + k);
                expected += line;
            }
        }
        EXPECT_EQ(out.text(), expected);
        EXPECT_EQ(op().redraw_request, view ? 0 : 1);
        fs::remove_all(folder);
    }
}

TEST_F(TransferTest, ALogBlockWithTheWrongNumberEndsTheRetrieval) {
    session& loop = the_session();
    begin_log(u(), false, loop.op_state);
    out.take();
    bytes params = {11, 80, 16, 1, 8};
    params.resize(params.size() + 640, 'x');
    unit_answers(sub_code::MESSAGE_LOG_ACK, params);
    loop.pass();
    EXPECT_EQ(out.text(), "Error in receiving the log. Seq no mismatch 0 1\n");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::LOG_REQ).size(), 1u);
    EXPECT_TRUE(operation_failed(u()));
}

// A log that does not come is asked for again after each time-out, ten times a fetch.
TEST_F(TransferTest, TheLogIsAskedForAgainTenTimesAFetch) {
    session& loop = the_session();
    for (int fetch = 0; fetch < 2; ++fetch) {
        FakeClockAndLink::sent().clear();
        begin_log(u(), false, loop.op_state);
        out.take();
        run_for(loop, 99000);
        EXPECT_EQ(loop.op_state, operation_state::fetching_log);
        run_for(loop, 2000);
        EXPECT_EQ(out.take(), "Unable to get the log from the unit. Too many retries\n\r");
        EXPECT_EQ(loop.op_state, operation_state::idle);
        EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::LOG_REQ).size(), 10u);
    }
}

// ---- Exit status -------------------------------------------------------------------------

TEST_F(TransferTest, ACommandLineRunEndsWithFourAfterAFailedOperation) {
    struct {
        int batch;
        bool fail;
        int status;
    } const cases[] = {{1, true, exit_operation_failed}, {1, false, 0}, {0, true, 0}};
    for (const auto& c : cases) {
        SetUp();
        op().batch_mode = c.batch;
        session& loop = the_session();
        make_file(1000);
        announce(loop);
        if (c.fail) {
            unit_answers(sub_code::DL_FAIL, {0, 0});
            loop.pass();
        } else {
            ack_every_chunk(loop);
        }
        EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
        EXPECT_EQ(operation_failed(u()), c.fail);
        EXPECT_EQ(loop.exit_status(), c.status) << c.batch << c.fail;
    }
}

// Bank 3's FLASH_INFO is lost until the retries run out: the banks that did report are shown
// and fetched by their true numbers, bank 3 is shown as unknown and a get from it is refused.
TEST_F(TransferTest, ARoundCutShortLeavesTheReportedBanksRightAndTheMissingOneUnknown) {
    session& loop = the_session();
    loop.start("tester", 0, false, false);
    unit_reports_boot(0);
    loop.pass();
    ASSERT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    const bytes image = pattern(64 * 1024);
    for (std::uint8_t bank = 0; bank < 3; ++bank) {
        bytes params(2 + sizeof(bank_info), 0);
        put_be32(params.data() + 2 + 4, 0x86000000u + bank * 0x800000u);
        put_be32(params.data() + 2 + 60, crc_of(image));
        put_be32(params.data() + 2 + 64, static_cast<std::uint32_t>(image.size()));
        unit_answers(static_cast<sub_code>(sub_byte(sub_code::FLASH_INFO) + bank), params);
    }
    run_for(loop, 51000, 100, false);
    ASSERT_EQ(loop.op_state, operation_state::idle);
    out.take();
    print_bank_info(u());
    const std::string table = out.take();
    EXPECT_EQ(count_of(table, "  File size     : 65536 "), 3u) << table;
    EXPECT_NE(table.find("  Flash addr    : 0x87000000 "), std::string::npos) << table;
    EXPECT_NE(table.find("  Bank 3 is unknown: the unit did not report it\n"), std::string::npos);

    op().batch_mode = 1;
    op().file_type = file_type_fpga;
    op().bank = 3;
    FakeClockAndLink::sent().clear();
    // The table is asked for once more, and the bank refused when its record still does not come.
    EXPECT_TRUE(::begin_get(u(), file_type_fpga, 3, loop.op_state));
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    run_for(loop, 21000, 100, false);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FLASH_INFO_REQ).size(), 2u);
    EXPECT_TRUE(FakeClockAndLink::sent_of(sub_code::FILE_REQ).empty());
    EXPECT_EQ(out.take(), "Bank 3 is unknown: the unit did not report what it holds. Nothing is "
                          "fetched\n");

    begin_get(loop, file_type_fpga, 2);
    for (std::uint16_t block = 0; block < 128; ++block) {
        unit_sends_block(block, image);
        loop.pass();
    }
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(content_of(fs::path("out") / "FW_Bank2.bin"), image);
}
