// What a run over several units is made of besides its sessions: the lines of each unit's
// thread, the names of the units' folders, the summary and the verdicts, the time of events.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/event_log.h"
#include "app/port_choice.h"
#include "app/rack_run.h"
#include "app/run_journal.h"
#include "platform/output.h"
#include "support/capture.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

}  // namespace

// Each thread's lines carry its prefix and reach the output whole, however the thread writes
// them and whatever another thread writes meanwhile; carriage returns are left out, and a line
// not ended is ended when the thread says so.
TEST(UnitLines, EachLineIsWholeAndCarriesItsUnitsPrefix) {
    OutputCapture out;
    const auto writer = [](const char* prefix, char letter) {
        out_set_thread_prefix(prefix);
        for (int k = 0; k < 200; ++k) {
            const std::string piece(3, letter);
            out_write(piece);
            out_write(piece + "\r\n" + piece);
            out_write("\n");
        }
        out_write("tail");
        out_end_thread_line();
        out_set_thread_prefix("");
    };
    std::thread a(writer, "[COM3] ", 'a');
    std::thread b(writer, "[COM4] ", 'b');
    a.join();
    b.join();
    int whole_a = 0;
    int whole_b = 0;
    for (const std::string& line : lines_of(out.text())) {
        if (line == "[COM3] aaaaaa" || line == "[COM3] aaa") {
            ++whole_a;
        } else if (line == "[COM4] bbbbbb" || line == "[COM4] bbb") {
            ++whole_b;
        } else {
            EXPECT_TRUE(line == "[COM3] tail" || line == "[COM4] tail") << line;
        }
    }
    EXPECT_EQ(whole_a, 400);
    EXPECT_EQ(whole_b, 400);
    EXPECT_EQ(out.text().find('\r'), std::string::npos);
}

TEST(SeveralUnits, FoldersSummaryVerdictsAndEventTimes) {
    EXPECT_EQ(unit_folder_name("COM3"), "unit_COM3");
    EXPECT_EQ(unit_folder_name("/dev/serial/by-id/usb-FTDI_A1 B2-if00-port0"),
              "unit_usb-FTDI_A1_B2-if00-port0");
    EXPECT_EQ(unit_folder_name("\\\\.\\COM12"), "unit_COM12");
    EXPECT_EQ(unit_folder_name("/dev/"), "unit_dev");
    EXPECT_EQ(unit_folder_name(".."), "unit_..");

    const std::vector<journal_entry> skipped = {{"connect", "", "", "ok", ""},
                                                {"load_fw", "a.bin", "bank 2", "skipped", "x"},
                                                {"verify", "a.bin", "bank 2", "ok", ""}};
    EXPECT_STREQ(unit_verdict(0, skipped), "skipped");
    EXPECT_STREQ(unit_verdict(4, skipped), "failed");
    std::vector<journal_entry> loaded = skipped;
    loaded.push_back({"load_sw", "b.srec", "bank 2", "ok", ""});
    EXPECT_STREQ(unit_verdict(0, loaded), "succeeded");
    EXPECT_STREQ(unit_verdict(0, {{"connect", "", "", "ok", ""}}), "succeeded");

    EXPECT_EQ(summary_text({{"COM3", "succeeded", ""},
                            {"COM4", "failed", "Serial port COM4: gone"},
                            {"COM5", "skipped", "bank 2 already holds it"},
                            {"COM6", "succeeded", ""}}),
              "\n4 units: 2 succeeded, 1 skipped, 1 failed\n"
              "  succeeded  COM3\n"
              "  succeeded  COM6\n"
              "  skipped    COM5: bank 2 already holds it\n"
              "  failed     COM4: Serial port COM4: gone\n");

    EXPECT_EQ(event_time_text(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(event_time_text(1765258801123), "2025-12-09T05:40:01.123Z");
    EXPECT_EQ(event_time_text(951868799999), "2000-02-29T23:59:59.999Z");
}
