// What a bad line costs: time, never the file. Read-backs whose data were damaged unseen by the
// line's checksum are read again block by block until the CRC-32 matches; a bank record lost on
// the line is asked for again; a log block that differs between two reads is read until two
// reads agree; and with /wait_port a read goes on after its port was pulled and put back.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"
#include "files/file_types.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

// The requests the unit received whose line starts with `prefix`.
std::vector<std::string> requests_starting(const sim_view& view, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : request_lines(view.received)) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

// The one file of this name in a time-stamped folder below `dir`.
std::optional<byte_vector> output_file(const fs::path& dir, const std::string& name) {
    for (const fs::path& folder : output_folders(dir)) {
        if (fs::exists(folder / name)) {
            return read_bytes(folder / name);
        }
    }
    return std::nullopt;
}

// Whether a request of this line has come.
std::function<bool(const sim_view&)> asked_for(const std::string& line) {
    return [line](const sim_view& view) {
        const std::vector<std::string> lines = request_lines(view.received);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
}

}  // namespace

class LineRepairs : public EndToEndTest {
protected:
    void start_with(const sim_faults& faults) {
        sim_unit_options options = unit_options();
        options.faults = faults;
        start_unit(options);
    }

    run_result batch(std::vector<std::string> args) {
        args.insert(args.begin(), {"/interface", "3"});
        return run(args, console_mode::input_null, 60s);
    }
};

// Blocks 0 and 2 of bank 2's FPGA image (three blocks), and then the one block of the
// Controller EEPROM, arrive damaged once under a right checksum.
TEST_F(LineRepairs, DamagedReadBacksOfOneBlockAndOfManyAreReadAgainUntilTheirCrcMatches) {
    sim_faults faults;
    faults.damaged_blocks = {0, 2};
    start_with(faults);
    const unit_memory memory = unit_->memory();

    const run_result image = batch({"/verbose", "1", "/bank", "2", "+get_fw", "/report", "r.json"});
    ASSERT_FALSE(image.timed_out) << describe(image);
    EXPECT_EQ(image.status, 0) << describe(image);
    EXPECT_TRUE(shows(image.out, "every block is read again (pass 1 of 3)")) << describe(image);
    EXPECT_TRUE(shows(image.out, "Block 0 differed between reads; read again")) << describe(image);
    EXPECT_TRUE(shows(image.out, "Block 2 differed between reads; read again")) << describe(image);
    EXPECT_FALSE(shows(image.out, "CRC32 Error")) << describe(image);
    EXPECT_EQ(output_file(dir_, "FW_Bank2.bin"), memory.banks[2].fpga.content) << target_.name();
    // Three blocks, then a pass over all three with blocks 0 and 2 read once more each.
    EXPECT_EQ(requests_starting(unit_->snapshot(), "FILE_REQ").size(), 3U + 5U);
    std::ifstream report_file(dir_ / "r.json");
    const json report = json::parse(report_file, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << describe(image);
    EXPECT_EQ(report["operations"].back().value("blocks_read_again", 0), 5) << report.dump();

    unit_->set_faults(faults);
    unit_->clear_received();
    const run_result eeprom = batch({"/prom_type", "Controller", "+get_prom"});
    ASSERT_FALSE(eeprom.timed_out) << describe(eeprom);
    EXPECT_EQ(eeprom.status, 0) << describe(eeprom);
    const eeprom_device* controller = memory.eeprom(file_type_controller, 0);
    ASSERT_NE(controller, nullptr);
    const std::vector<std::string> reads = requests_starting(unit_->snapshot(), "FILE_REQ");
    EXPECT_EQ(reads, std::vector<std::string>(3, file_request_line(0, file_type_controller, 0)));
    EXPECT_EQ(output_file(dir_, "Controller.eeprom"), controller->content) << describe(eeprom);
}

// Bank 2's record is lost twice: the table is asked for until it comes, and the get goes on.
// A log block damaged on its first read differs on the second and is read until two agree.
TEST_F(LineRepairs, ALostBankRecordIsAskedForAgainAndADamagedLogBlockIsReadAgain) {
    sim_faults faults;
    faults.lost_bank_records[2] = 2;
    faults.damaged_log_blocks = {1};
    start_with(faults);
    const unit_memory memory = unit_->memory();

    const run_result result = batch({"/bank", "2", "+get_fw", "+get_log"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_FALSE(shows(result.out, "is unknown")) << describe(result);
    EXPECT_EQ(output_file(dir_, "FW_Bank2.bin"), memory.banks[2].fpga.content) << target_.name();
    // The reboot for the get added to the log: it is compared as the unit holds it now.
    EXPECT_EQ(output_file(dir_, "log.txt"), log_file_bytes(unit_->memory().log))
        << target_.name();

    const sim_view view = unit_->snapshot();
    EXPECT_EQ(requests_starting(view, "FLASH_INFO_REQ").size(), 3U);
    const std::vector<std::string> log_reads = {"LOG_REQ block 0", "LOG_REQ block 1",
                                                "LOG_REQ block 0", "LOG_REQ block 1",
                                                "LOG_REQ block 1"};
    EXPECT_EQ(requests_starting(view, "LOG_REQ"), log_reads);
}

// The port is pulled after block 2 of bank 2's software image (six blocks) was asked for, and
// put back 2 s later: the read goes on from where it was, and the file is whole.
TEST_F(LineRepairs, AReadGoesOnFromItsBlockAfterThePortWasPulledAndPutBack) {
    start_unit();
    const unit_memory memory = unit_->memory();
    auto run = launch({"/interface", "3", "/wait_port", "10", "/bank", "2", "+get_sw"},
                      console_mode::input_null);
    const std::string third = file_request_line(2, file_type_software, 2);
    ASSERT_TRUE(unit_->wait_until(
        asked_for(third),
        30s))
        << target_.name() << ": block 2 was never asked for";
    unit_->disconnect();
    const std::vector<std::string> before_cut =
        requests_starting(unit_->snapshot(), "FILE_REQ");
    std::this_thread::sleep_for(2s);
    unit_->reconnect();
    const run_result result = run->wait(60s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(shows(result.out, "Waiting up to 10 s for the port COM3 to come back"))
        << describe(result);
    EXPECT_TRUE(shows(result.out, "The port COM3 is back")) << describe(result);
    EXPECT_EQ(output_file(dir_, "SW_Bank2.srec"), memory.banks[2].software.content)
        << describe(result);

    // Every block asked for before the cut and answered is not asked for again: only the last
    // one asked (whose answer the cut may have taken) comes once more.
    const std::vector<std::string> reads = requests_starting(unit_->snapshot(), "FILE_REQ");
    ASSERT_FALSE(before_cut.empty());
    for (std::size_t k = 0; k + 1 < before_cut.size(); ++k) {
        EXPECT_EQ(std::count(reads.begin(), reads.end(), before_cut[k]), 1) << before_cut[k];
    }
    EXPECT_LE(reads.size(), 7U) << ::testing::PrintToString(reads);

    // A port that does not come back in time ends the run as a pulled port always did.
    fs::remove_all(dir_ / output_folders(dir_).at(0));
    unit_->clear_received();
    auto cut = launch({"/interface", "3", "/wait_port", "1", "/bank", "2", "+get_sw"},
                      console_mode::input_null);
    ASSERT_TRUE(unit_->wait_until(
        asked_for(third),
        30s));
    unit_->disconnect();
    const run_result ended = cut->wait(30s);
    ASSERT_FALSE(ended.timed_out) << describe(ended);
    EXPECT_EQ(ended.status, 2) << describe(ended);
    EXPECT_TRUE(shows(ended.out, "The port COM3 did not come back within 1 s")) << describe(ended);
    EXPECT_EQ(output_file(dir_, "SW_Bank2.srec"), std::nullopt) << describe(ended);
}
