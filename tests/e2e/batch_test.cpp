// Batch runs whose options start no operation: the program connects, draws no menu and ends,
// whatever its standard input is, as long as it is no terminal.
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/wire_log.h"

namespace {

const std::string banner_line = "  Kestrel QX_RL4471902-3\n";

std::vector<std::string> connect_and_end(sub_code first_request) {
    return {raw_line('#'),
            raw_line('#'),
            short_request_line(first_request),
            short_request_line(sub_code::FLASH_INFO_REQ),
            short_request_line(sub_code::LOADER_EXIT)};
}

}  // namespace

class BatchRun : public EndToEndTest {
protected:
    // What every such run must show: status 0, the banner first, no menu and no ending line of
    // an interactive run.
    void expect_plain_batch_output(const run_result& result) const {
        ASSERT_FALSE(result.timed_out) << describe(result);
        EXPECT_EQ(result.status, 0) << describe(result);
        EXPECT_EQ(result.out.substr(0, banner_line.size()), banner_line) << describe(result);
        for (const char* screen_text : {"Menu", "Connecting", "Connected", "Q: Quit"}) {
            EXPECT_EQ(result.out.find(screen_text), std::string::npos)
                << "a batch run draws no menu, yet shows " << screen_text << ": "
                << describe(result);
        }
        EXPECT_EQ(result.out.find("sucker thread"), std::string::npos) << describe(result);
    }
};

TEST_F(BatchRun, ConnectsAndEndsWithInputFromNullDevice) {
    start_unit();
    const run_result result = run({"/interface", "3", "/comment", "x"}, console_mode::input_null);
    expect_plain_batch_output(result);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s));
    EXPECT_EQ(wire(), connect_and_end(sub_code::BOOTINFO_REQ)) << target_.name();
}

TEST_F(BatchRun, SafeModeAsksForSafeModeFirstWithInputFromAnOpenPipe) {
    start_unit();
    const run_result result =
        run({"/interface", "3", "+safemode", "/comment", "x"}, console_mode::input_pipe);
    expect_plain_batch_output(result);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s));
    EXPECT_EQ(wire(), connect_and_end(sub_code::SAFEMODE_REQ)) << target_.name();
}

TEST_F(BatchRun, VerboseLevelKeepsItsLowEightBits) {
    start_unit();
    // 258 is level 2: traces above level 1 appear, those above level 2 and 5 do not.
    const run_result result = run({"/interface", "3", "/verbose", "258", "/comment", "x"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    // The boot request goes out before the banner is printed, so the trace of its answer may
    // come first; the banner is still a line of its own, before the verbose level.
    const std::size_t banner = result.out.find(banner_line);
    ASSERT_NE(banner, std::string::npos) << describe(result);
    EXPECT_TRUE(banner == 0 || result.out[banner - 1] == '\n') << describe(result);
    EXPECT_NE(result.out.find("Verbose level 2 enabled\n", banner), std::string::npos)
        << describe(result);
    EXPECT_NE(result.out.find("BOOTINFO_ACK from bank 1\n"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("firmware_operation.safemode"), std::string::npos)
        << describe(result);
    EXPECT_EQ(result.out.find("Send_Message"), std::string::npos) << describe(result);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s));
    EXPECT_EQ(wire(), connect_and_end(sub_code::BOOTINFO_REQ)) << target_.name();
}
