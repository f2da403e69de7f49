// The progress line of a transfer: on a terminal one line rewritten in place while a download,
// an upload and a log fetch run, gone when each ends, so that the screen then reads as it does
// without it; with pipes not a byte of it.
#include <regex>
#include <string>
#include <vector>

#include "e2e/screen_text.h"
#include "e2e/unit_files.h"

namespace {

// What a terminal shows of the text at its end: a carriage return goes back to the start of
// the line, a line feed on to the next line's start, other characters overwrite. Lines of the
// receiver's "MOVING n BYTES" trace are left out: their count and numbers follow how the bytes
// happened to arrive.
std::string rendered(std::string_view text) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char c : text) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (line.size() <= column) {
                line.resize(column + 1, ' ');
            }
            line[column++] = c;
        }
    }
    std::string screen;
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        if (line.rfind("MOVING ", 0) != 0) {
            screen += line + "\n";
        }
    }
    return screen;
}

std::size_t matches(const std::string& text, const std::string& pattern) {
    const std::regex re(pattern);
    return static_cast<std::size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

}  // namespace

using ProgressLine = OperationsTest;

TEST_F(ProgressLine, ShownInPlaceOnATerminalAndNeverWithPipes) {
    start_unit();
    put_file("progress.bin", 16 * 1024, 41);
    const std::vector<std::string> args = {"/interface", "3", "/load_fw", "progress.bin",
                                           "/bank", "2", "+get_fw", "+get_log"};
    const run_result terminal = run(args, console_mode::terminal, 120s);
    ASSERT_FALSE(terminal.timed_out) << describe(terminal);
    EXPECT_EQ(terminal.status, 0) << describe(terminal);
    // The same run on a unit afresh (running bank 1 again), its output to a pipe.
    unit_.reset();
    start_unit();
    const run_result piped = run(args, console_mode::input_null, 120s);
    ASSERT_FALSE(piped.timed_out) << describe(piped);
    EXPECT_EQ(piped.status, 0) << describe(piped);
    EXPECT_EQ(piped.out.find("KiB"), std::string::npos) << describe(piped);
    EXPECT_EQ(piped.out.find('\r'), std::string::npos) << describe(piped);

    if (target_.wine) {
        // The console host redraws the screen its own way: the line's words show, and the
        // texts around it stay whole.
        const std::string words_seen = screen_form(terminal.out);
        for (const char* text : {"Download progress.bin", "Upload FW_Bank2.bin", "Log log.txt",
                                 "KiB/s", "left", "download completed", "Get FW from bank 2",
                                 "Get Log"}) {
            EXPECT_NE(words_seen.find(text_form(text)), std::string::npos)
                << text << " missing: " << describe(terminal);
        }
        return;
    }
    // Rewritten in place: each update starts with a carriage return; the rate and the time
    // left show once the download has run a while.
    const std::string figures = "[0-9.]+/16\\.0 KiB   ([0-9.]+|--) KiB/s   ([0-9]+:[0-9]{2}|-:--) left";
    EXPECT_GE(matches(terminal.out, "\r  Download progress\\.bin +[0-9]+%   " + figures), 2u)
        << describe(terminal);
    EXPECT_GE(matches(terminal.out, "\r  Download progress\\.bin +[0-9]+%   [0-9.]+/16\\.0 KiB   "
                                    "[0-9]+\\.[0-9] KiB/s   [0-9]+:[0-9]{2} left"),
              1u)
        << describe(terminal);
    EXPECT_GE(matches(terminal.out, "\r  Upload FW_Bank2\\.bin +([0-9]+|--)%   "), 1u)
        << describe(terminal);
    EXPECT_GE(matches(terminal.out, "\r  Log log\\.txt +([0-9]+|--)%   "), 1u) << describe(terminal);
    // Erased before every other text: what the terminal shows at the end is what it shows of a
    // run without the line.
    EXPECT_EQ(rendered(terminal.out), rendered(piped.out)) << describe(terminal);
}

// A unit that stops answering in the middle of a transfer: the line says that the program
// waits for it and, once it has asked again, how often, rather than stand still.
TEST_F(ProgressLine, AWaitForASilentUnitIsShown) {
    sim_unit_options options = unit_options();
    options.preloads.push_back({2, 1, "long.bin", byte_vector(64 * 1024, 0x77)});
    start_unit(options);
    const std::unique_ptr<program_run> program =
        launch({"/interface", "3", "+get_fw", "/bank", "2"}, console_mode::terminal);
    ASSERT_TRUE(unit_->wait_until(
        [](const sim_view& v) { return received_count(v, sub_code::FILE_REQ) >= 4; }, 30s));
    sim_faults silent;
    silent.silent = true;
    unit_->set_faults(silent);
    const bool waiting = program->wait_for_output(
        [this](const std::string& out) { return shows(out, "waiting for the unit"); }, 15s);
    EXPECT_TRUE(waiting) << target_.name() << ":\n" << screen_form(program->output());
    if (!target_.wine) {
        EXPECT_GE(matches(program->output(), "\r  Upload FW_Bank2\\.bin +[0-9]+%   waiting for "
                                             "the unit [3-9] s"),
                  1u);
    }
}