// The fixture of the end-to-end tests: the program chosen by the test run's environment (the
// Linux build, or the Windows build under wine), a private working folder for each test, and
// the simulated unit on a serial port in that folder (and in the wine prefix). Screen checks
// compare exactly on Linux and word by word under wine, whose console host draws blanks as
// cursor moves and lines as cursor positions.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/program_run.h"
#include "e2e/program_target.h"
#include "tools/unit_sim/sim_unit.h"

using namespace std::chrono_literals;

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Pacing at line speed, a short boot delay, the link in the private folder and, under wine,
    // in the prefix too.
    sim_unit_options unit_options(unsigned port = 3) const;
    void start_unit(const sim_unit_options& options);
    void start_unit() { start_unit(unit_options()); }

    // Starts the program in the private folder.
    std::unique_ptr<program_run> launch(const std::vector<std::string>& args,
                                        console_mode console) const;
    // The same with every launch setting; the working folder is the private one.
    std::unique_ptr<program_run> launch(launch_settings settings) const;
    // Starts it and waits for its end.
    run_result run(const std::vector<std::string>& args,
                   console_mode console = console_mode::input_null,
                   std::chrono::milliseconds timeout = 30s) const;

    // The form in which screens are compared: on Linux the output without the carriage
    // returns the terminal adds; under wine its words.
    std::string screen_form(const std::string& output) const;
    // An expected text in the same form.
    std::string text_form(std::string_view text) const;
    // Where `text` first shows in a screen form at or after `from`; npos when it does not.
    std::size_t find_on_screen(const std::string& form, std::string_view text,
                               std::size_t from = 0) const;
    bool shows(const std::string& output, std::string_view text) const {
        return find_on_screen(screen_form(output), text) != std::string::npos;
    }

    // The end of a run for a failure message: its status, its output in screen form and its
    // standard error (where sanitizer reports land).
    std::string describe(const run_result& result) const;

    // What the unit received so far, one line per item (see wire_log.h).
    std::vector<std::string> wire() const;

    program_target target_;
    std::filesystem::path dir_;
    std::unique_ptr<sim_unit> unit_;
};
