// Hostile and unlucky input, as a careful attacker and a careless user would try it: texts of
// the unit that hold escape sequences and bytes that are not UTF-8, answers that cannot be
// trusted, report and image names that stand for no file of their own, and a disk that fills.
// Each run must end with its status and a clear message, never a crash, a hang, a loop or a
// replaced device.
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <string>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"

namespace fs = std::filesystem;

namespace {

using json = nlohmann::json;

// An image name with a title change (OSC 0) and a Latin-1 byte: shown, never obeyed, and in
// the report as UTF-8.
const std::string hostile_name = "M\xfcller\x1b]0;pwned\x07.bin";

// The report as a script reads it; an empty object (whose fields then compare unequal) when
// there is none.
json parsed_report(const fs::path& path) {
    const std::optional<byte_vector> text = read_bytes(path);
    if (!text) {
        ADD_FAILURE() << "no report at " << path;
        return json::object();
    }
    return json::parse(text->begin(), text->end());  // throws, and so fails, on invalid UTF-8
}

}  // namespace

using BadInput = OperationsTest;

TEST_F(BadInput, TextsOfTheUnitAreShownNotObeyedAndReportedAsUtf8) {
    sim_unit_options options = unit_options();
    options.preloads.push_back({2, 1, hostile_name, byte_vector(600, 0x5A)});
    start_unit(options);
    const run_result result =
        run({"/interface", "3", "+info", "/report", "r.json"}, console_mode::terminal, 60s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(shows(result.out, "\\x1b]0;pwned\\x07.bin")) << describe(result);
    EXPECT_EQ(result.out.find("\x1b]0;pwned"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find('\x07'), std::string::npos) << describe(result);
    json report = parsed_report(dir_ / "r.json");
    EXPECT_EQ(report["banks"][2]["image"]["name"], "M\xc3\xbcller\x1b]0;pwned\x07.bin");
    EXPECT_EQ(report["exit_status"], 0);
}

TEST_F(BadInput, AReportNeverTakesThePlaceOfWhatIsNoFileOfItsOwn) {
    start_unit();
    const byte_vector image = put_file("keep.bin", 700, 3);
    fs::create_directory(dir_ / "adir");
    struct refusal {
        std::vector<std::string> args;
        std::string reason;
    };
    std::vector<refusal> refusals = {
        {{"/load_fw", "keep.bin", "/report", "keep.bin"}, "it is the file to load with /load_fw"},
        {{"+info", "/report", "adir"}, "it is a folder"},
        // The port: a link to the unit's line here, a device name for Windows.
        {{"+info", "/report", "COM3"}, "it is not a regular file (a device, a FIFO or a socket)"},
    };
    if (!target_.wine) {
        ASSERT_EQ(::mkfifo((dir_ / "afifo").c_str(), 0600), 0);
        refusals.push_back({{"+info", "/report", "afifo"},
                            "it is not a regular file (a device, a FIFO or a socket)"});
    }
    for (const refusal& r : refusals) {
        const run_result result = run_batch(r.args, 30s);
        ASSERT_FALSE(result.timed_out) << describe(result);
        EXPECT_EQ(result.status, 255) << describe(result);
        EXPECT_EQ(result.out, "Report file \"" + r.args.back() + "\" cannot be written: " +
                                  r.reason + "\n")
            << describe(result);
    }
    EXPECT_EQ(read_bytes(dir_ / "keep.bin"), image);
    EXPECT_TRUE(fs::is_symlink(dir_ / "COM3"));
    EXPECT_TRUE(unit_->received().empty()) << "refused before anything is done";
}

TEST_F(BadInput, APortThatCannotBeOpenedStillLeavesItsReport) {
    const std::string name = target_.wine ? "COM250" : "/dev/kestrel-no-such-port";
    const run_result result = run({"/port", name, "+info", "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 2) << describe(result);
    json report = parsed_report(dir_ / "r.json");
    EXPECT_EQ(report["exit_status"], 2);
    ASSERT_EQ(report["operations"].size(), 1U);
    EXPECT_EQ(report["operations"][0]["outcome"], "failed");
    EXPECT_EQ(report["operations"][0]["message"].get<std::string>().rfind(
                  "Serial port " + name + ": cannot open the port (error 8)", 0),
              0U)
        << report.dump();
    EXPECT_EQ(report["banks"][2]["reported"], false);
}

TEST_F(BadInput, FilesToLoadThatAreNoRegularFileAreRefusedAtOnce) {
    start_unit();
    fs::create_directory(dir_ / "adir.bin");
    std::vector<std::string> args = {"/load_sw", "adir.bin"};
    if (!target_.wine) {
        // A FIFO without a writer: opening it for reading would wait for ever.
        ASSERT_EQ(::mkfifo((dir_ / "afifo").c_str(), 0600), 0);
        args.insert(args.begin(), {"/load_fw", "afifo"});
    }
    const run_result result = run_batch(args, 30s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    EXPECT_TRUE(contains(result, "  \"adir.bin\" is a folder, not a file: nothing is loaded from it\n"))
        << describe(result);
    if (!target_.wine) {
        EXPECT_TRUE(contains(result, "  \"afifo\" is not a regular file (a device, a FIFO or a "
                                     "socket): nothing is loaded from it\n"))
            << describe(result);
    }
    EXPECT_FALSE(contains(result, "does not exist")) << describe(result);
}

// The unit's answers are checked, not trusted: a size whose block numbers would wrap, and an
// EEPROM_ACK for something else than was asked, end their get before anything is fetched.
TEST_F(BadInput, AnswersThatCannotBeTrustedEndTheirGetAtOnce) {
    if (target_.wine) {
        GTEST_SKIP() << "the checks are the same code in both builds";
    }
    sim_unit_options options = unit_options();
    options.faults.reported_size = 0xFFFFFFFFu;
    start_unit(options);
    const std::string refused = " is reported as 4294967295 bytes, in 8388608 blocks of 512 "
                                "bytes: more than Kestrel can fetch (65536 blocks, 33554432 "
                                "bytes). Nothing is fetched\n";
    const run_result huge = run_batch({"+get_fw", "/bank", "2", "/prom_type", "PA2", "+get_prom"}, 60s);
    ASSERT_FALSE(huge.timed_out) << describe(huge);
    EXPECT_EQ(huge.status, 4) << describe(huge);
    expect_in_order(huge, {"The FPGA image of bank 2" + refused, "PA channel 2" + refused});
    EXPECT_TRUE(no_output_files());

    sim_faults faults;
    faults.eeprom_ack_names = std::make_pair(std::uint8_t{1}, std::uint8_t{2});
    unit_->set_faults(faults);
    const run_result other =
        run_batch({"/prom_type", "PA2", "+get_prom", "/report", "r.json"}, 60s);
    ASSERT_FALSE(other.timed_out) << describe(other);
    EXPECT_EQ(other.status, 4) << describe(other);
    const std::string message =
        "EEPROM_ACK names the FPGA image of bank 2, but PA channel 2 was asked for. Nothing is fetched";
    EXPECT_TRUE(contains(other, message + "\n")) << describe(other);
    EXPECT_TRUE(no_output_files());
    EXPECT_EQ(parsed_report(dir_ / "r.json")["operations"].back()["message"], message);
}

TEST_F(BadInput, AFullDiskNamesTheFileAndTheSystemsReason) {
    if (target_.wine) {
        GTEST_SKIP() << "a file size limit is set for a native process";
    }
    sim_unit_options options = unit_options();
    options.preloads.push_back({2, 1, "big.bin", byte_vector(3000, 0x33)});
    start_unit(options);
    launch_settings settings;
    settings.args = {"/interface", "3", "+get_fw", "/bank", "2"};
    // Files of at most 1 KiB: the write of the third block fails, as on a full disk.
    settings.command_prefix = {"/bin/sh", "-c", "ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\""};
    const run_result result = launch(settings)->wait(60s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    EXPECT_TRUE(contains(result, "Could not write to output file. Lenght 512\nCould not write "))
        << describe(result);
    EXPECT_TRUE(contains(result, "/FW_Bank2.bin.part: File too large\n")) << describe(result);
    EXPECT_TRUE(no_output_files());
}
