// Files moved between the PC and the unit by command-line runs: downloads of a byte, a chunk
// and a large file, whose descriptions the unit reports back in the bank table;
// the refusal of an empty file; uploads of images, an EEPROM and the log, compared byte for byte
// with what the unit holds.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e/unit_files.h"
#include "protocol/messages.h"

namespace fs = std::filesystem;

namespace {

// One row of the bank table with the image's and the software's text.
std::string table_row(const char* label, const std::string& image, const std::string& software) {
    char line[160];
    std::snprintf(line, sizeof line, "  %s: %-24s  %s\n", label, image.c_str(), software.c_str());
    return line;
}

std::string hex_row(const char* label, std::uint32_t image, std::uint32_t software) {
    char line[160];
    std::snprintf(line, sizeof line, "  %s: 0x%-22X  0x%X\n", label, image, software);
    return line;
}

// The login name the program sends as the user of a download.
std::string login_name() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
}

// The rows of the bank table that show what the PC sent with the two downloads of a bank.
std::vector<std::string> described_bank(int bank, const flash_bank& stored) {
    const stored_image& fpga = stored.fpga;
    const stored_image& software = stored.software;
    return {
        "  Bank " + std::to_string(bank) + "        : Image                     Software\n",
        table_row("File name     ", field_string(fpga.descriptor.file_name),
                  field_string(software.descriptor.file_name)),
        table_row("File date     ", field_string(fpga.descriptor.file_date),
                  field_string(software.descriptor.file_date)),
        table_row("Download date ", field_string(fpga.descriptor.download_date),
                  field_string(software.descriptor.download_date)),
        hex_row("File CRC      ", fpga.descriptor.crc, software.descriptor.crc),
        table_row("File size     ", std::to_string(fpga.descriptor.size),
                  std::to_string(software.descriptor.size)),
        table_row("User          ", field_string(fpga.notes.user),
                  field_string(software.notes.user)),
        table_row("Comment       ", field_string(fpga.notes.comment),
                  field_string(software.notes.comment)),
    };
}

// A date text as the program writes it: "Sun Dec 06 22:44:42 2026".
bool looks_like_date(const std::string& text) {
    return text.size() == 24 && text[3] == ' ' && text[7] == ' ' && text[13] == ':' &&
           text[16] == ':' && text[19] == ' ';
}

}  // namespace

using Transfers = OperationsTest;
using LargeTransfers = OperationsTest;

// A file of one byte and one of exactly one 512-byte chunk, with the comment given on the
// command line. /bank, given last, still applies: it is read when each operation starts.
TEST_F(Transfers, DownloadsOfOneByteAndOneChunkEndInTheUnitAndInTheBankTable) {
    start_unit();
    const byte_vector fpga = put_file("one.bin", 1, 11);
    const byte_vector software = put_file("s512.srec", 512, 12);
    const run_result result = run_batch({"/load_fw", "one.bin", "/load_sw", "s512.srec",
                                         "/comment", "bench run 7", "+info", "/bank", "3"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {"Save FW one.bin to bank 3\n", "\ndownload completed\n",
                             "Save SW s512.srec to bank 3\n", "\ndownload completed\n"});

    std::vector<std::string> expected = connect_lines();
    append_lines(expected, download_lines(file_type_fpga, 3, fpga.size()));
    append_lines(expected, download_lines(file_type_software, 3, software.size()));
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();

    const unit_memory memory = unit_->memory();
    const flash_bank& bank3 = memory.banks[3];
    EXPECT_EQ(bank3.fpga.content, fpga) << target_.name();
    EXPECT_EQ(bank3.software.content, software) << target_.name();

    // What the unit keeps of the descriptions, as the PC sent them.
    EXPECT_EQ(field_string(bank3.fpga.descriptor.file_name), "one.bin");
    EXPECT_EQ(field_string(bank3.software.descriptor.file_name), "s512.srec");
    EXPECT_EQ(field_string(bank3.fpga.notes.comment), "bench run 7");
    EXPECT_EQ(field_string(bank3.software.notes.comment), "bench run 7");
    EXPECT_EQ(field_string(bank3.fpga.notes.user), login_name()) << target_.name();
    EXPECT_EQ(field_string(bank3.software.notes.user), login_name()) << target_.name();
    for (const stored_image* image : {&bank3.fpga, &bank3.software}) {
        EXPECT_TRUE(looks_like_date(field_string(image->descriptor.file_date)))
            << field_string(image->descriptor.file_date);
        EXPECT_TRUE(looks_like_date(field_string(image->descriptor.download_date)))
            << field_string(image->descriptor.download_date);
    }

    // The table printed at the end shows them.
    std::vector<std::string> table = {"  Bank information\n\n"};
    append_lines(table, described_bank(3, bank3));
    expect_in_order(result, table);
    EXPECT_TRUE(contains(result, "  File size     : 1                         512\n"))
        << describe(result);
}

// 100 KiB are 200 chunks. The unit runs without line pacing here so that the file does not
// take long. A suite of its own, as it takes far longer than the others under wine.
TEST_F(LargeTransfers, DownloadOfOneHundredKibibytesEndsInTheUnit) {
    sim_unit_options options = unit_options();
    options.pacing = false;
    start_unit(options);
    const byte_vector software = put_file("big.srec", 100 * 1024, 22);
    const run_result result = run_batch({"/load_sw", "big.srec", "+info"}, 480s);
    ASSERT_FALSE(result.timed_out)
        << describe(result) << "\nchunks taken by the unit: "
        << received_count(unit_->snapshot(), sub_code::DL_DATA) << " of 200";
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {"Save SW big.srec to bank 2\n", "\ndownload completed\n"});

    std::vector<std::string> expected = connect_lines();
    append_lines(expected, download_lines(file_type_software, 2, software.size()));
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();

    const unit_memory memory = unit_->memory();
    EXPECT_EQ(memory.banks[2].software.content, software) << target_.name();
    EXPECT_EQ(field_string(memory.banks[2].software.notes.comment), "");

    std::vector<std::string> table = {"  Bank information\n\n"};
    append_lines(table, described_bank(2, memory.banks[2]));
    expect_in_order(result, table);
    EXPECT_TRUE(contains(result, "  File name     : rl4471_fpga_v2_4.bin      big.srec\n"))
        << describe(result);
    EXPECT_TRUE(contains(result, "  File size     : 1300                      102400\n"))
        << describe(result);
}

TEST_F(Transfers, EmptyFileIsRefusedAndNothingIsSent) {
    start_unit();
    put_file("empty.bin", 0, 0);
    const unit_memory before = unit_->memory();
    const run_result result = run_batch({"/load_fw", "empty.bin", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    expect_in_order(result, {"Save FW empty.bin to bank 2\n", "Could not read empty.bin \n",
                             "  Bank information\n\n"});
    EXPECT_FALSE(contains(result, "download completed")) << describe(result);
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
    EXPECT_EQ(unit_->memory().banks[2].fpga.content, before.banks[2].fpga.content);
}

// The unit runs bank 1 and serves files only from its boot loader: the first get reboots it
// to bank 0, the later ones find it there. Images of several blocks are checked by their CRC;
// the Controller EEPROM fits one block; the log comes in two blocks of eight entries.
TEST_F(Transfers, UploadsOfImagesAnEepromAndTheLogEqualTheUnitsData) {
    start_unit();
    const run_result result = run_batch(
        {"/bank", "2", "+get_fw", "+get_sw", "/prom_type", "Controller", "+get_prom", "+get_log"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {"Get FW from bank 2\n", "Get SW from bank 2\n", "Get Log\n"});
    EXPECT_FALSE(contains(result, "Incomplete file")) << describe(result);

    const unit_memory memory = unit_->memory();
    const stored_image& fpga = memory.banks[2].fpga;
    const stored_image& software = memory.banks[2].software;
    const eeprom_device* controller = memory.eeprom(file_type_controller, 0);
    ASSERT_NE(controller, nullptr);
    ASSERT_GT(fpga.content.size(), 2 * default_chunk_size) << "the image should need 3 blocks";
    ASSERT_LE(controller->content.size(), default_chunk_size);

    std::vector<std::string> expected = connect_lines();
    expected.push_back(reboot_line(0));
    for (std::size_t k = 0; k * default_chunk_size < fpga.content.size(); ++k) {
        expected.push_back(file_request_line(2, file_type_fpga, static_cast<std::uint16_t>(k)));
    }
    for (std::size_t k = 0; k * default_chunk_size < software.content.size(); ++k) {
        expected.push_back(
            file_request_line(2, file_type_software, static_cast<std::uint16_t>(k)));
    }
    expected.push_back("EEPROM_INFO_REQ type 3 channel 0");
    expected.push_back(file_request_line(0, file_type_controller, 0));
    for (int read = 0; read < 2; ++read) {  // the log has no checksum: it is read twice
        expected.push_back("LOG_REQ block 0");
        expected.push_back("LOG_REQ block 1");
    }
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();

    const fs::path folder = the_output_folder();
    ASSERT_FALSE(folder.empty());
    // Only the finished files, under their own names.
    EXPECT_EQ(folder_entries(folder),
              (std::vector<std::string>{"Controller.eeprom", "FW_Bank2.bin", "SW_Bank2.srec",
                                        "log.txt"}))
        << target_.name();
    EXPECT_EQ(read_bytes(folder / "FW_Bank2.bin"), fpga.content) << target_.name();
    EXPECT_EQ(read_bytes(folder / "SW_Bank2.srec"), software.content) << target_.name();
    EXPECT_EQ(read_bytes(folder / "Controller.eeprom"), controller->content) << target_.name();

    // The reboot added an entry to the factory log's eleven.
    const std::optional<byte_vector> log = read_bytes(folder / "log.txt");
    ASSERT_TRUE(log.has_value()) << target_.name();
    EXPECT_EQ(memory.log.entries.size(), 12U);
    EXPECT_EQ(log->size(), memory.log.entries.size() * unit_log_entry_size);
    EXPECT_EQ(*log, log_file_bytes(memory.log)) << target_.name();
}
