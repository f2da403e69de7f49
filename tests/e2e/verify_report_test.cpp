// +verify and /report in command-line runs: a load read back and compared with its file, with
// the line that says so and the exit status; and the report a script reads, parsed and checked
// field by field, for a run that passes and one whose unit stores a wrong byte.
#include <nlohmann/json.hpp>

#include <string>

#include "e2e/e2e_fixture.h"
#include "e2e/unit_files.h"
#include "link/crc.h"

namespace {

using json = nlohmann::json;

constexpr std::size_t image_size = 20480;
constexpr std::uint32_t bad_byte = 4096;

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

using VerifyAndReport = OperationsTest;

TEST_F(VerifyAndReport, APassingVerifyAndTheReportOfItsRun) {
    start_unit();
    const byte_vector image = put_file("demo_fw.bin", image_size, 5);
    const std::uint32_t crc = crc32_file(image.data(), image.size(), 0xFFFFFFFFU);
    const run_result result = run_batch(
        {"+info", "/load_fw", "demo_fw.bin", "/bank", "2", "+verify", "+get_sw", "/bank", "2",
         "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(contains(result, "Verified demo_fw.bin in bank 2: 20480 bytes, CRC-32 " +
                                     hex32(crc) + "\n"))
        << describe(result);

    const std::optional<byte_vector> text = read_bytes(dir_ / "r.json");
    ASSERT_TRUE(text.has_value());
    const json report = json::parse(text->begin(), text->end());
    EXPECT_EQ(report["program"], "Kestrel");
    EXPECT_FALSE(report["version"].get<std::string>().empty());
    EXPECT_EQ(report["link"], json({{"kind", "serial"}, {"port", "COM3"}}));
    ASSERT_EQ(report["banks"].size(), 4U);
    const json& bank2 = report["banks"][2]["image"];
    EXPECT_EQ(bank2["name"], "demo_fw.bin");
    EXPECT_EQ(bank2["size"], image_size);
    EXPECT_EQ(bank2["crc32"], hex32(crc));
    EXPECT_EQ(bank2["valid"], true);
    EXPECT_EQ(report["banks"][3]["image"]["valid"], false);
    const json operations = {
        {{"operation", "connect"}, {"outcome", "ok"}},
        {{"operation", "info"}, {"outcome", "ok"}},
        {{"operation", "load_fw"}, {"file", "demo_fw.bin"}, {"target", "bank 2"}, {"outcome", "ok"}},
        {{"operation", "verify"}, {"file", "demo_fw.bin"}, {"target", "bank 2"}, {"outcome", "ok"}},
        {{"operation", "get_sw"}, {"target", "bank 2"}, {"outcome", "ok"}},
    };
    EXPECT_EQ(report["operations"], operations);
    // The read-back of the verify leaves no file; the get does.
    ASSERT_EQ(report["files"].size(), 1U);
    const std::string path = report["files"][0]["path"];
    EXPECT_NE(path.find("SW_Bank2.srec"), std::string::npos) << path;
    const byte_vector software = unit_->memory().banks[2].software.content;
    EXPECT_EQ(report["files"][0]["size"], software.size());
    EXPECT_EQ(report["files"][0]["crc32"],
              hex32(crc32_file(software.data(), software.size(), 0xFFFFFFFFU)));
    EXPECT_EQ(report["exit_status"], 0);

    // +verify with nothing to load: a warning, and the status stays.
    const run_result nothing = run_batch({"+verify", "+info"});
    EXPECT_EQ(nothing.status, 0) << describe(nothing);
    EXPECT_TRUE(contains(nothing, "Warning: +verify")) << describe(nothing);
}

TEST_F(VerifyAndReport, AStoredByteThatDiffersFailsTheVerifyAndTheRun) {
    sim_unit_options options = unit_options();
    options.faults.corrupt_stored_byte = bad_byte;
    start_unit(options);
    put_file("demo_fw.bin", image_size, 6);
    const run_result result = run_batch(
        {"/load_fw", "demo_fw.bin", "/bank", "2", "+verify", "/report", "r.json"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 4) << describe(result);
    const std::string failure = "Verify failed: demo_fw.bin differs from bank 2 at byte 4096";
    EXPECT_TRUE(contains(result, failure + "\n")) << describe(result);

    const std::optional<byte_vector> text = read_bytes(dir_ / "r.json");
    ASSERT_TRUE(text.has_value());
    const json report = json::parse(text->begin(), text->end());
    const json& verify = report["operations"].back();
    EXPECT_EQ(verify["operation"], "verify");
    EXPECT_EQ(verify["outcome"], "failed");
    EXPECT_EQ(verify["message"], failure);
    EXPECT_EQ(report["exit_status"], 4);
    EXPECT_TRUE(no_output_files()) << "the read-back of a verify leaves no file";
}
