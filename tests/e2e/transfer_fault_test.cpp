// Command-line transfers against a unit that misbehaves on purpose: corrupted answers that
// cost a retry, a refused chunk, a refused file, a wrong CRC-32, a wrong block number and a
// unit that never answers. A run whose operation failed ends with status 4, one that
// recovered with 0; no failed upload leaves a file or a partial one behind.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"
#include "link/crc.h"
#include "tools/unit_sim/sim_injector.h"

namespace fs = std::filesystem;

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr int status_failed = 4;

// With this seed, 1% of the answers corrupted hits exactly one DL_ACK of the 64 KiB download
// and one FILE_ACK of its upload, and no answer of the connections around them. Each answer
// that arrives broken has its request repeated at once.
constexpr std::uint64_t corrupting_seed = 16;

std::uint32_t crc_of(const bytes& data) { return crc32_file(data.data(), data.size(), 0xFFFFFFFFU); }

// Every file below `dir` whose name is `name` or `name`.part.
std::vector<fs::path> files_named(const fs::path& dir, const std::string& name) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir, error)) {
        const std::string file = entry.path().filename().string();
        if (file == name || file == name + ".part") {
            found.push_back(entry.path());
        }
    }
    return found;
}

}  // namespace

class TransferFaults : public EndToEndTest {
protected:
    sim_unit_options faulty(const sim_faults& faults) const {
        sim_unit_options options = unit_options();
        options.faults = faults;
        return options;
    }

    // A command-line run on COM3.
    run_result batch(std::vector<std::string> args, std::chrono::milliseconds timeout = 60s) {
        args.insert(args.begin(), {"/interface", "3"});
        return run(args, console_mode::input_null, timeout);
    }

    // The one finished output file of this name in a time-stamped folder, after a check that
    // it is the only file of that name and that no partial one is left.
    fs::path only_output(const std::string& name) const {
        const std::vector<fs::path> found = files_named(dir_, name);
        EXPECT_EQ(found.size(), 1U) << target_.name() << ": " << ::testing::PrintToString(found);
        if (found.size() != 1 || found[0].filename() != name ||
            !is_output_folder_name(found[0].parent_path())) {
            ADD_FAILURE() << target_.name() << ": expected " << name
                          << " in a time-stamped folder, found "
                          << ::testing::PrintToString(found);
            return {};
        }
        return found[0];
    }

    void expect_no_output(const std::string& name) const {
        EXPECT_EQ(files_named(dir_, name), std::vector<fs::path>{})
            << target_.name() << ": a failed upload must leave neither " << name
            << " nor its partial file";
    }
};

TEST_F(TransferFaults, CorruptedAnswersAreMadeGoodIn64KiBDownloadAndUpload) {
    if (target_.wine) {
        GTEST_SKIP() << "run natively only: a 64 KiB download and upload at line rate";
    }
    sim_faults faults;
    faults.corrupt_answer_probability = 0.01;
    sim_unit_options options = faulty(faults);
    options.seed = corrupting_seed;
    start_unit(options);

    const bytes image = pattern_bytes(64 * 1024, 3);
    write_bytes(dir_ / "large_image.bin", image);
    const run_result loaded =
        batch({"/bank", "2", "/load_fw", "large_image.bin", "/comment", "64 KiB"}, 90s);
    ASSERT_FALSE(loaded.timed_out) << describe(loaded);
    EXPECT_EQ(loaded.status, 0) << describe(loaded);
    EXPECT_NE(loaded.out.find("\ndownload completed\n"), std::string::npos) << describe(loaded);
    const sim_view after_download = unit_->snapshot();
    EXPECT_GT(after_download.answers_corrupted, 0U) << "the seed corrupted no answer";
    EXPECT_GT(received_count(after_download, sub_code::DL_DATA), 128U)
        << "a chunk whose answer was lost is sent again";
    EXPECT_EQ(after_download.memory.banks[2].fpga.content, image);
    EXPECT_EQ(after_download.memory.banks[2].fpga.descriptor.crc, crc_of(image));

    const run_result fetched = batch({"/bank", "2", "+get_fw"}, 90s);
    ASSERT_FALSE(fetched.timed_out) << describe(fetched);
    EXPECT_EQ(fetched.status, 0) << describe(fetched);
    const sim_view after_upload = unit_->snapshot();
    EXPECT_GT(after_upload.answers_corrupted, after_download.answers_corrupted)
        << "the seed corrupted no answer of the upload";
    EXPECT_GT(received_count(after_upload, sub_code::FILE_REQ), 128U)
        << "a block whose answer was lost is asked for again";
    const fs::path file = only_output("FW_Bank2.bin");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(read_bytes(file), image) << target_.name();
}

TEST_F(TransferFaults, DlFailAtChunk3EndsTheDownloadAndLeavesTheBankAsItWas) {
    sim_faults faults;
    faults.dl_fail_at_chunk = 3;
    start_unit(faulty(faults));
    const unit_memory before = unit_->memory();
    write_bytes(dir_ / "six_chunks.bin", pattern_bytes(3000, 4));

    const run_result result = batch({"/bank", "2", "/load_fw", "six_chunks.bin"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, status_failed) << describe(result);
    EXPECT_NE(result.out.find("Save FW six_chunks.bin to bank 2\n"), std::string::npos)
        << describe(result);
    EXPECT_NE(result.out.find("\ndownload failed\n"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("download completed"), std::string::npos) << describe(result);

    const sim_view view = unit_->snapshot();
    EXPECT_EQ(received_count(view, sub_code::DL_DATA), 4U) << "chunks 0 to 3, then no more";
    const stored_image& fpga = view.memory.banks[2].fpga;
    EXPECT_EQ(fpga.content, before.banks[2].fpga.content);
    EXPECT_EQ(fpga.descriptor.crc, before.banks[2].fpga.descriptor.crc);
    EXPECT_STREQ(fpga.descriptor.file_name, before.banks[2].fpga.descriptor.file_name);
}

TEST_F(TransferFaults, FileFailedEndsTheUploadWithoutAFile) {
    sim_faults faults;
    faults.file_failed = true;
    start_unit(faulty(faults));

    const run_result result = batch({"/bank", "2", "+get_fw"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, status_failed) << describe(result);
    EXPECT_NE(result.out.find("Get FW from bank 2\n"), std::string::npos) << describe(result);
    EXPECT_NE(result.out.find("FILE_FAILED error "), std::string::npos) << describe(result);
    EXPECT_NE(result.out.find("File upload failed\n"), std::string::npos) << describe(result);
    expect_no_output("FW_Bank2.bin");
}

TEST_F(TransferFaults, WrongCrcIsReportedAndTheFileRemoved) {
    sim_faults faults;
    faults.wrong_crc = true;
    start_unit(faulty(faults));
    const bytes content = unit_->memory().banks[2].fpga.content;  // three blocks of 512
    const std::uint32_t reported = fault_injector(faults, 1).reported_crc(crc_of(content));
    ASSERT_NE(reported, crc_of(content));

    const run_result result = batch({"/bank", "2", "+get_fw"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, status_failed) << describe(result);
    char line[64];
    std::snprintf(line, sizeof line, "CRC32 Error %08X expected %08X\n\r", crc_of(content),
                  reported);
    EXPECT_NE(result.out.find(line), std::string::npos)
        << "expected the line " << line << describe(result);
    const std::size_t removed = result.out.find("Incomplete file ");
    EXPECT_NE(removed, std::string::npos) << describe(result);
    EXPECT_NE(result.out.find("FW_Bank2.bin removed\n", removed), std::string::npos)
        << describe(result);
    expect_no_output("FW_Bank2.bin");
    // The check comes with the last block; every block is then read again three times.
    EXPECT_EQ(received_count(unit_->snapshot(), sub_code::FILE_REQ), 4 * 3U);
}

TEST_F(TransferFaults, WrongBlockNumberOnceIsAskedForAgainAndTheUploadCompletes) {
    sim_faults faults;
    faults.wrong_block_once = true;
    start_unit(faulty(faults));
    const bytes content = unit_->memory().banks[1].fpga.content;  // three blocks of 512

    const run_result result = batch({"/bank", "1", "+get_fw"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_NE(result.out.find("Error in receiving the file. Seq no mismatch 0 1\n"),
              std::string::npos)
        << describe(result);
    EXPECT_EQ(received_count(unit_->snapshot(), sub_code::FILE_REQ), 4U)
        << "block 0 is asked for twice";
    const fs::path file = only_output("FW_Bank1.bin");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(read_bytes(file), content) << target_.name();
}

TEST_F(TransferFaults, SilentUnitIsGivenUpAfterThreeTimeOuts) {
    if (target_.wine) {
        GTEST_SKIP() << "run natively only: it waits out three 10 s time-outs";
    }
    sim_faults faults;
    faults.silent = true;
    start_unit(faulty(faults));

    const run_result result = batch({"+info"}, 60s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, status_failed) << describe(result);
    EXPECT_NE(result.out.find("Unable to get Boot information from unit. Too many retries"),
              std::string::npos)
        << describe(result);
    EXPECT_EQ(result.out.find("Bank information"), std::string::npos) << describe(result);
    const sim_view view = unit_->snapshot();
    EXPECT_EQ(received_count(view, sub_code::BOOTINFO_REQ), 3U)
        << "asked at the start and after each of the first two time-outs";
    EXPECT_EQ(received_count(view, sub_code::FLASH_INFO_REQ), 0U);
}
