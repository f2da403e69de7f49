// The terminal the user ran the program in is left as it was found: after Q, and after an
// interrupt or termination signal, which end the program by the signal. The terminal starts
// with settings of its own (not those of a fresh one), so that a program restoring some
// default instead of what it found shows.
//
// Linux build only: under wine the terminal belongs to wine's console host, not to the program.
#include <signal.h>
#include <termios.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "e2e/menu_session.h"

namespace {

std::string described(const termios& t) {
    std::string text = printed(
        "iflag %#o oflag %#o cflag %#o lflag %#o ispeed %u ospeed %u cc", unsigned{t.c_iflag},
        unsigned{t.c_oflag}, unsigned{t.c_cflag}, unsigned{t.c_lflag},
        unsigned{::cfgetispeed(&t)}, unsigned{::cfgetospeed(&t)});
    for (const cc_t c : t.c_cc) {
        text += printed(" %u", unsigned{c});
    }
    return text;
}

// A user's own settings: Backspace as ^H, no XON/XOFF keys, control characters not echoed as ^X.
void users_settings(termios& t) {
    t.c_cc[VERASE] = 0x08;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHOCTL);
}

}  // namespace

class TerminalRestore : public MenuRun {
protected:
    void SetUp() override {
        // Decided before the common set-up, which readies wine for a run.
        const char* target = std::getenv("KESTREL_TARGET");
        if (target != nullptr && std::string_view(target) == "wine") {
            GTEST_SKIP() << "the terminal of a program under wine is wine's console host's";
        }
        MenuRun::SetUp();
    }

    // Starts a connected run on the user's terminal and waits until the program has put it
    // into single-key input.
    void start() {
        launch_settings settings;
        settings.terminal_setup = users_settings;
        ASSERT_NO_FATAL_FAILURE(start_connected(unit_options(), settings));
        const std::optional<termios> at_start = program_->terminal_settings_at_start();
        ASSERT_TRUE(at_start.has_value());
        ASSERT_EQ(at_start->c_cc[VERASE], 0x08) << "the terminal did not take the user's settings";
        ASSERT_TRUE(program_->wait_for_single_keys(5s));
        const std::optional<termios> running = program_->terminal_settings();
        ASSERT_TRUE(running.has_value());
        EXPECT_EQ(running->c_lflag & static_cast<tcflag_t>(ICANON | ECHO), 0U)
            << "keys are echoed or wait for Enter while the menu runs";
    }

    void expect_terminal_as_at_start() const {
        const std::optional<termios> at_start = program_->terminal_settings_at_start();
        const std::optional<termios> at_end = program_->terminal_settings();
        ASSERT_TRUE(at_start.has_value() && at_end.has_value());
        EXPECT_EQ(described(*at_end), described(*at_start));
    }

    void end_by_signal(int signal_number) {
        ASSERT_NO_FATAL_FAILURE(start());
        ASSERT_EQ(::kill(program_->pid(), signal_number), 0);
        const run_result result = program_->wait(10s);
        ASSERT_FALSE(result.timed_out) << "signal " << signal_number
                                       << " did not end the run: " << describe(result);
        EXPECT_EQ(result.status, 128 + signal_number)
            << "the program must end by the signal: " << describe(result);
        expect_terminal_as_at_start();
    }
};

TEST_F(TerminalRestore, QuitLeavesTheTerminalAsItWas) {
    ASSERT_NO_FATAL_FAILURE(start());
    quit();
    expect_terminal_as_at_start();
}

TEST_F(TerminalRestore, InterruptSignalEndsTheRunAndLeavesTheTerminalAsItWas) {
    end_by_signal(SIGINT);
}

TEST_F(TerminalRestore, TerminationSignalEndsTheRunAndLeavesTheTerminalAsItWas) {
    end_by_signal(SIGTERM);
}
