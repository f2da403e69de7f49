#include "console/progress_line.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/output.h"
#include "support/capture.h"

namespace {

transfer_progress transfer(transfer_kind kind, std::string name, std::uint64_t done,
                           std::uint64_t total) {
    transfer_progress t;
    t.kind = kind;
    t.name = std::move(name);
    t.done = done;
    t.total = total;
    return t;
}

TEST(ProgressLine, ShowsPercentSizesRateAndTimeLeftOrDashesWhileUnknown) {
    EXPECT_EQ(progress_line(transfer(transfer_kind::download, "demo_fw.bin", 62 * 1024, 102 * 1024),
                            10.7 * 1024, 79),
              "  Download demo_fw.bin   61%   62.0/102.0 KiB   10.7 KiB/s   0:04 left");
    // An upload before its first block: neither the size nor the rate is known.
    EXPECT_EQ(progress_line(transfer(transfer_kind::upload, "FW_Bank2.bin", 0, 0), std::nullopt, 79),
              "  Upload FW_Bank2.bin   --%   0.0/-- KiB   -- KiB/s   -:-- left");
    // 99.9% is not done; a whole file is; an hour and more takes h:mm:ss.
    EXPECT_EQ(progress_line(transfer(transfer_kind::log, "log.txt", 999, 1000), 0.0, 79),
              "  Log log.txt   99%   1.0/1.0 KiB   -- KiB/s   -:-- left");
    EXPECT_EQ(progress_line(transfer(transfer_kind::log, "log.txt", 5120, 5120), 512.0, 79),
              "  Log log.txt  100%   5.0/5.0 KiB   0.5 KiB/s   0:00 left");
    EXPECT_EQ(progress_line(transfer(transfer_kind::download, "a.srec", 0, 32 << 20), 1024.0, 79),
              "  Download a.srec    0%   0.0/32768.0 KiB   1.0 KiB/s   9:06:08 left");
    EXPECT_EQ(duration_text(59), "0:59");
    EXPECT_EQ(duration_text(600), "10:00");
    EXPECT_EQ(duration_text(3600), "1:00:00");
}

TEST(ProgressLine, LongNameIsShortenedInTheMiddleToFitTheWidth) {
    const std::string name = "rl4471_field_release_candidate_2026_12_08_final_really.bin";
    const transfer_progress t = transfer(transfer_kind::download, name, 512, 1024);
    const std::string line = progress_line(t, 2048.0, 79);
    EXPECT_EQ(line, "  Download rl4471_fie..._really.bin   50%   0.5/1.0 KiB   2.0 KiB/s   0:01 left");
    EXPECT_EQ(line.size(), 79u);
    // Too narrow even for a shortened name: what fits.
    EXPECT_EQ(progress_line(t, 2048.0, 20), "  Download rl4471_fi");
}

// A unit that stops answering: the line says so instead of looking frozen; the name is shown,
// never obeyed.
TEST(ProgressLine, AWaitForTheUnitShowsHowLongAndHowOftenItAskedAgain) {
    const transfer_progress t = transfer(transfer_kind::upload, "FW_Bank2.bin", 12 * 1024, 32 * 1024);
    EXPECT_EQ(progress_line(t, 1024.0, 79, unit_silence{14, 1}),
              "  Upload FW_Bank2.bin   38%   waiting for the unit 14 s, asked again 1 time");
    EXPECT_EQ(progress_line(transfer(transfer_kind::download, "x\x1b[2J.bin", 0, 0), std::nullopt, 79,
                            unit_silence{3, 0}),
              "  Download x\\x1b[2J.bin   --%   waiting for the unit 3 s");
}

// The status line stands on an empty line only, and whatever is written next erases it first,
// so that the text lands where it would have without it.
TEST(StatusLine, IsRewrittenInPlaceAndErasedBeforeOtherText) {
    OutputCapture capture;
    EXPECT_FALSE(out_is_terminal()) << "a capture is no terminal";
    out_status("  50%");
    out_status("  7%");
    out_printf("\n%s\n", "download completed");
    out_status_clear();  // nothing left to erase
    EXPECT_EQ(capture.take(), "\r  50%\r  7% \r     \r\ndownload completed\n");

    out_write("  OK to load this file Y/N?");  // an open line: nothing is drawn over it
    out_status("  1%");
    out_status_clear();
    EXPECT_EQ(capture.take(), "  OK to load this file Y/N?");
    out_write("\n\r");
    out_status("  2%");
    out_status_clear();
    EXPECT_EQ(capture.take(), "\n\r\r  2%\r    \r");
}

}  // namespace
