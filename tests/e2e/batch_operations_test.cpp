// Command-line runs that perform operations: each operation in the order of the command line,
// the bank each one works on, the refusals that skip an operation or end the run, and what the
// unit then holds, received and reported, with the exit status a script sees.
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"
#include "protocol/messages.h"

namespace {

constexpr std::size_t fpga_size = 1300;
constexpr std::size_t software_size = 700;  // two chunks, the second one short
constexpr std::size_t eeprom_size = 256;

const std::string bank_table = "  Bank information\n\n";
const std::string bank0_refused = "Invalid bank 0. Only Bank 1 to 3 in valid\n";

}  // namespace

using BatchOperations = OperationsTest;

TEST_F(BatchOperations, InfoAlonePrintsTheBankTable) {
    start_unit();
    const unit_memory memory = unit_->memory();
    const run_result result = run_batch({"+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    // The factory contents: banks 0 to 2 filled, bank 3 empty.
    const std::string bank2_sizes =
        "  File size     : " + std::to_string(memory.banks[2].fpga.content.size()) +
        "                      " + std::to_string(memory.banks[2].software.content.size()) +
        "\n";
    expect_in_order(result, {bank_table,
                             "  Bank 0        : Image                     Software\n",
                             "  File name     : loader_fpga_v1_0.bin      loader_v1_0.srec\n",
                             "  Bank 1        : Image                     Software\n",
                             "  User          : jsmith                    jsmith\n",
                             "  Comment       : release 2.3               release 2.3\n\n",
                             "  Bank 2        : Image                     Software\n", bank2_sizes,
                             "  Bank 3 does not contain valid images\n\n"});
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
}

// Without /bank a load goes to the bank the unit does not run from. The operations follow the
// command line: bank table, download, then the reboot into the bank the program last saw the
// unit run (bank 1: the unit's boot into its loader for the download is answered by DL_READY
// alone, without a boot report). 1025 bytes need a third chunk with a single byte, which still
// goes out as a whole chunk.
TEST_F(BatchOperations, InfoLoadRebootInCommandLineOrderToTheOtherBank) {
    start_unit();
    const byte_vector image = put_file("a.bin", 1025, 1);
    const run_result result = run_batch({"+info", "/load_fw", "a.bin", "+reboot"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {bank_table, "Save FW a.bin to bank 2\n",
                             "Waiting for booting to bank 0 and start downloading a.bin\n",
                             "\ndownload completed\n", "  Waiting for bootload to complete\n",
                             "\n  Bootload completed\n"});

    std::vector<std::string> expected = connect_lines();
    append_lines(expected, download_lines(file_type_fpga, 2, image.size()));
    expected.push_back(reboot_line(1));
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();

    const unit_memory memory = unit_->memory();
    EXPECT_EQ(memory.banks[2].fpga.content, image) << target_.name();
    EXPECT_EQ(field_string(memory.banks[2].fpga.descriptor.file_name), "a.bin");
    EXPECT_EQ(unit_->current_bank(), 1) << target_.name();
}

// The same operations the other way round, and with +bank0 a load to bank 0 (the boot loader's
// bank), which the table printed last already shows.
TEST_F(BatchOperations, RebootLoadInfoReversedAndALoadToBankZeroWithItsOption) {
    start_unit();
    const byte_vector image = put_file("s.srec", software_size, 2);
    const run_result result =
        run_batch({"+bank0", "+reboot", "/load_sw", "s.srec", "/bank", "0", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {"  Waiting for bootload to complete\n", "\n  Bootload completed\n",
                             "Save SW s.srec to bank 0\n", "\ndownload completed\n", bank_table,
                             "  Bank 0        : Image                     Software\n",
                             "  File name     : loader_fpga_v1_0.bin      s.srec\n"});
    EXPECT_FALSE(contains(result, "Invalid bank")) << describe(result);

    std::vector<std::string> expected = connect_lines();
    expected.push_back(reboot_line(1));
    append_lines(expected, download_lines(file_type_software, 0, image.size()));
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();
    EXPECT_EQ(unit_->memory().banks[0].software.content, image) << target_.name();
}

TEST_F(BatchOperations, LoadToBankZeroIsRefusedAndEndsTheRunWithoutBankZeroOption) {
    start_unit();
    put_file("a.bin", fpga_size, 3);
    const unit_memory before = unit_->memory();
    const run_result result = run_batch({"/load_fw", "a.bin", "/bank", "0", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    EXPECT_TRUE(contains(result, bank0_refused)) << describe(result);
    EXPECT_FALSE(contains(result, "Save FW")) << describe(result);
    EXPECT_FALSE(contains(result, bank_table)) << "the run goes on: " << describe(result);
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
    EXPECT_EQ(unit_->memory().banks[0].fpga.content, before.banks[0].fpga.content);
}

// A get without /bank asks for bank 0, which is refused: that get is skipped, the run goes on,
// and the status tells of the refusal.
TEST_F(BatchOperations, GetWithoutBankIsSkippedAndTheRunGoesOn) {
    start_unit();
    const run_result result = run_batch({"+get_fw", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    expect_in_order(result, {bank0_refused, bank_table});
    EXPECT_FALSE(contains(result, "Get FW")) << describe(result);
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
    EXPECT_TRUE(no_output_files()) << target_.name() << ": a skipped get writes no file";
}

// An EEPROM of two chunks into PA channel 3 and back. The unit's boot into its loader for the
// download brought no boot report, so the program still takes it to run bank 1: the get
// reboots it to bank 0 again, then asks for two blocks and checks the CRC-32 after the second.
TEST_F(BatchOperations, PaChannelThreeIsLoadedAndFetched) {
    start_unit();
    const byte_vector eeprom = put_file("p.eeprom", 1024, 6);
    const unit_memory before = unit_->memory();
    const run_result result =
        run_batch({"/prom_type", "PA3", "/load_prom", "p.eeprom", "+get_prom"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(contains(result, "\ndownload completed\n")) << describe(result);

    constexpr std::uint8_t channel_index = 2;
    std::vector<std::string> expected = connect_lines();
    append_lines(expected, download_lines(file_type_pa, channel_index, eeprom.size()));
    expected.push_back("EEPROM_INFO_REQ type 5 channel 2");
    expected.push_back(reboot_line(0));
    expected.push_back(file_request_line(channel_index, file_type_pa, 0));
    expected.push_back(file_request_line(channel_index, file_type_pa, 1));
    expected.push_back(loader_exit_line);
    EXPECT_EQ(requests_of_run(), expected) << target_.name();

    const unit_memory memory = unit_->memory();
    ASSERT_NE(memory.eeprom(file_type_pa, channel_index), nullptr);
    EXPECT_EQ(memory.eeprom(file_type_pa, channel_index)->content, eeprom) << target_.name();
    for (const int other : {0, 1, 3}) {
        EXPECT_EQ(memory.eeprom(file_type_pa, other)->content,
                  before.eeprom(file_type_pa, other)->content)
            << "PA channel index " << other;
    }

    const std::filesystem::path folder = the_output_folder();
    EXPECT_EQ(folder_entries(folder), std::vector<std::string>{"PA_Channel3.eeprom"});
    EXPECT_EQ(read_bytes(folder / "PA_Channel3.eeprom"),
              memory.eeprom(file_type_pa, channel_index)->content)
        << target_.name();
}

// A refused bank ends the run even for a boot option that is false.
TEST_F(BatchOperations, FalseBootWithBankNineEndsTheRun) {
    start_unit();
    const run_result result = run_batch({"-boot", "/bank", "9", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    EXPECT_TRUE(contains(result, "Invalid bank 9. Only Bank 1 to 3 in valid\n"))
        << describe(result);
    EXPECT_FALSE(contains(result, bank_table)) << "the run goes on: " << describe(result);
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
}

TEST_F(BatchOperations, UnknownEepromTypeSkipsTheLoadAndTheGet) {
    start_unit();
    put_file("p.eeprom", eeprom_size, 7);
    const unit_memory before = unit_->memory();
    const run_result result =
        run_batch({"/prom_type", "PA5", "/load_prom", "p.eeprom", "+get_prom", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    const std::string refusal =
        "Unknown EEPROM type \"PA5\": use /prom_type with Controller, Charger, PA1 to PA4 or "
        "TC1 to TC4\n";
    expect_in_order(result, {refusal, refusal, bank_table});
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
    const unit_memory after = unit_->memory();
    ASSERT_EQ(after.eeproms.size(), before.eeproms.size());
    for (std::size_t k = 0; k < after.eeproms.size(); ++k) {
        EXPECT_EQ(after.eeproms[k].content, before.eeproms[k].content) << "EEPROM " << k;
    }
}
