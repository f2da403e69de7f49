// Runs that end at start-up because the serial port cannot be had: a port number that is not
// positive as a signed number, and a port that does not exist.
#include <filesystem>
#include <string>

#include "e2e/e2e_fixture.h"
#include "e2e/screen_text.h"

namespace fs = std::filesystem;

class StartFailure : public EndToEndTest {};

TEST_F(StartFailure, PortNumberBelowOneAsSignedIsRefusedAfterAPause) {
    const run_result result = run({"/interface", "4294967295"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    // The message alone: no receiver thread was started, so none is stopped or reported.
    EXPECT_EQ(result.out, "Initialize COM -1 Failed\n") << describe(result);
    EXPECT_EQ(result.status, 255) << "-1 as the shell reads it: " << describe(result);
    EXPECT_GE(result.elapsed, 2500ms) << target_.name() << ": the message stays for 3 s";
}

TEST_F(StartFailure, MissingPortEndsTheRunWithStatusTwo) {
    // COM7 is neither in the working folder nor, under wine, in the prefix; both fall back to
    // /dev/ttyS6, which must not exist either.
    if (fs::exists("/dev/ttyS6")) {
        GTEST_SKIP() << "/dev/ttyS6 exists here, so COM7 is not missing";
    }
    if (target_.wine) {
        const fs::path device = fs::path(target_.prefix) / "dosdevices" / "com7";
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(device, error))) {
            fs::remove(device, error);
        }
        ASSERT_FALSE(fs::exists(fs::symlink_status(device, error))) << device;
    }
    const run_result result = run({"/interface", "7"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 2) << describe(result);
    const std::string report = "\nSerial port COM7: cannot open the port";
    EXPECT_EQ(occurrences(result.out, report), 1U) << describe(result);
    EXPECT_EQ(occurrences(result.out, "Serial port"), 1U) << describe(result);
    EXPECT_EQ(result.out.find("sucker thread"), std::string::npos) << describe(result);
}
