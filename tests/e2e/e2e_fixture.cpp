#include "e2e/e2e_fixture.h"

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "e2e/screen_text.h"
#include "e2e/wire_log.h"

namespace fs = std::filesystem;

void EndToEndTest::SetUp() {
    try {
        target_ = target_from_environment();
    } catch (const std::exception& error) {
        GTEST_FAIL() << "cannot tell which program to run: " << error.what();
    }
    if (target_.wine) {
        // Every run that opens a serial port leaves a wine device process behind, and with many
        // of them starting a process (each screen clear runs the command interpreter) slows
        // down to seconds. Each test starts with a fresh wine server.
        const int restarted = std::system(
            "/usr/lib/wine/wineserver64 -k >/dev/null 2>&1; "
            "/usr/lib/wine/wineserver64 -p >/dev/null 2>&1");
        static_cast<void>(restarted);
    }
    std::string pattern = (fs::path(::testing::TempDir()) / "kestrel-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr)
        << "no private folder in " << ::testing::TempDir();
    dir_ = pattern;
}

void EndToEndTest::TearDown() {
    if (unit_) {
        unit_->stop();
        unit_.reset();
    }
    if (!dir_.empty()) {
        std::error_code error;
        fs::remove_all(dir_, error);
    }
}

sim_unit_options EndToEndTest::unit_options(unsigned port) const {
    sim_unit_options options;
    options.link_dir = dir_;
    options.port = port;
    options.pacing = true;
    options.boot_delay = 50ms;
    if (target_.wine) {
        options.wine_prefix = target_.prefix;
    }
    return options;
}

void EndToEndTest::start_unit(const sim_unit_options& options) {
    unit_ = std::make_unique<sim_unit>(options);
    unit_->start();
}

std::unique_ptr<program_run> EndToEndTest::launch(const std::vector<std::string>& args,
                                                  console_mode console) const {
    launch_settings settings;
    settings.args = args;
    settings.console = console;
    return launch(std::move(settings));
}

std::unique_ptr<program_run> EndToEndTest::launch(launch_settings settings) const {
    settings.working_directory = dir_;
    return std::make_unique<program_run>(target_, settings);
}

run_result EndToEndTest::run(const std::vector<std::string>& args, console_mode console,
                             std::chrono::milliseconds timeout) const {
    return launch(args, console)->wait(timeout);
}

std::string EndToEndTest::screen_form(const std::string& output) const {
    return target_.wine ? words(output) : without_carriage_returns(output);
}

std::string EndToEndTest::text_form(std::string_view text) const {
    return target_.wine ? words(text) : std::string(text);
}

std::size_t EndToEndTest::find_on_screen(const std::string& form, std::string_view text,
                                         std::size_t from) const {
    return form.find(text_form(text), from);
}

std::string EndToEndTest::describe(const run_result& result) const {
    return target_.name() + (result.timed_out ? ", ended on time-out" : "") + ", status " +
           std::to_string(result.status) + ", output:\n" + screen_form(result.out) +
           "\nstandard error:\n" + result.err;
}

std::vector<std::string> EndToEndTest::wire() const {
    return unit_ ? wire_lines(unit_->received()) : std::vector<std::string>{};
}
