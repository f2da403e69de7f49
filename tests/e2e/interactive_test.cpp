// The interactive menu run over a real terminal: what goes over the line while connecting,
// the screens the user sees, an idle program, and the quit key with the ending it brings.
#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/header_date.h"
#include "e2e/menu_session.h"
#include "e2e/screen_text.h"
#include "e2e/wire_log.h"

namespace {

// Status line and menu while connecting: only R and Q are offered.
const std::string connecting_screen =
    "  Connecting...  Verbose level  0 No of Retries     0 \n"
    "\n"
    "\n\n"
    "  R: Refresh menu\n"
    "  Q: Quit\n";

// Status line and menu once the unit has answered, on a serial link.
const std::string connected_screen = connected_menu(1, 0);

const std::string ending = "\nTerminating sucker thread\n";

// One connection and a quit, as the unit sees them.
const std::vector<std::string> connect_and_quit = {
    raw_line('#'),
    raw_line('#'),
    short_request_line(sub_code::BOOTINFO_REQ),
    short_request_line(sub_code::FLASH_INFO_REQ),
    short_request_line(sub_code::LOADER_EXIT),
};

// Idle, the program sleeps between passes of its loop and waits for keys without spinning.
// Under wine the process's time also holds what wine does inside it for the program's console
// and serial calls, so its bound is looser; a spinning thread would still use the whole 3 s.
constexpr auto idle_period = 3s;
constexpr double native_idle_cpu_limit = 0.3;
constexpr double wine_idle_cpu_limit = 1.0;

}  // namespace

class InteractiveRun : public EndToEndTest {
protected:
    // Starts the program on a terminal with the unit on COM3 and waits for the menu of a
    // connected unit.
    void start_connected() {
        start_unit();
        started_at_ = std::chrono::system_clock::now();
        program_ = launch({"/interface", "3"}, console_mode::terminal);
        const bool connected = program_->wait_for_output(
            [this](const std::string& output) { return shows(output, connected_screen); }, 30s);
        ASSERT_TRUE(connected) << target_.name() << ": no connected menu; the screen was:\n"
                               << screen_form(program_->output());
    }

    // Types keys once the terminal takes single keys.
    void press(const char* keys) {
        EXPECT_TRUE(program_->wait_for_single_keys(5s))
            << target_.name() << ": the terminal still edits lines, so keys wait for Enter";
        EXPECT_TRUE(program_->type(keys)) << target_.name() << ": cannot type " << keys;
    }

    // Types a quit key and waits for the end of the run.
    run_result quit_with(const char* key) {
        press(key);
        return program_->wait(20s);
    }

    std::chrono::system_clock::time_point started_at_;
    std::unique_ptr<program_run> program_;
};

TEST_F(InteractiveRun, ConnectsShowsTheMenuIdlesAndQuitsWithQ) {
    ASSERT_NO_FATAL_FAILURE(start_connected());
    const std::string screen = screen_form(program_->output());

    // The connecting screen comes first, then the connected one.
    const std::size_t connecting = find_on_screen(screen, connecting_screen);
    ASSERT_NE(connecting, std::string::npos)
        << target_.name() << ":\n" << screen_form(program_->output());
    EXPECT_NE(find_on_screen(screen, connected_screen, connecting), std::string::npos)
        << target_.name() << ": the connected menu must follow the connecting one:\n"
        << screen_form(program_->output());

    // Every menu screen has the header: banner, title and the local date of the moment.
    const std::string date = "([A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4})";
    const std::regex header =
        target_.wine ? std::regex("Kestrel QX_RL4471902-3 Menu " + date)
                     : std::regex("  Kestrel QX_RL4471902-3         Menu         " + date + "\n\n");
    const auto now = std::chrono::system_clock::now();
    int headers = 0;
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), header);
         it != std::sregex_iterator(); ++it) {
        ++headers;
        EXPECT_TRUE(header_date_within((*it)[1].str(), started_at_, now))
            << target_.name() << ": header date " << (*it)[1].str()
            << " is not the local time of the run";
    }
    EXPECT_GE(headers, 2) << target_.name() << ": a header with each of the two screens:\n"
                          << screen_form(program_->output());

    // Idle: little processor time and no message to the unit (the whole exchange is compared
    // at the end).
    const std::optional<double> before = program_->cpu_seconds();
    std::this_thread::sleep_for(idle_period);
    const std::optional<double> after = program_->cpu_seconds();
    ASSERT_TRUE(before && after) << target_.name() << ": the program ended while idle";
    EXPECT_LT(*after - *before, target_.wine ? wine_idle_cpu_limit : native_idle_cpu_limit)
        << target_.name() << ": processor time used in " << idle_period.count() << " s of idling";
    EXPECT_EQ(unit_->snapshot().loader_exits, 0U);

    const run_result result = quit_with("Q");
    ASSERT_FALSE(result.timed_out) << "Q did not end the run: " << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(shows(result.out, ending)) << target_.name() << ":\n" << screen_form(result.out);
    EXPECT_FALSE(shows(result.out, "Failed to terminate sucker thread")) << target_.name();
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s));
    EXPECT_EQ(wire(), connect_and_quit) << target_.name();
}

TEST_F(InteractiveRun, KeepsTheLinkAliveWhileIdleAndTakesLowerCaseKeys) {
    ASSERT_NO_FATAL_FAILURE(start_connected());
    const auto menus = [this](const std::string& output) {
        return occurrences(screen_form(output), text_form(connected_screen));
    };
    const auto headers = [this](const std::string& output) {
        return occurrences(screen_form(output), text_form("Kestrel QX_RL4471902-3"));
    };
    const std::size_t menus_drawn = menus(program_->output());
    const std::size_t headers_drawn = headers(program_->output());

    // r draws the whole screen again, header included.
    press("r");
    EXPECT_TRUE(program_->wait_for_output(
        [&](const std::string& output) {
            return menus(output) > menus_drawn && headers(output) > headers_drawn;
        },
        10s))
        << target_.name() << ": r did not redraw the screen:\n" << screen_form(program_->output());

    // Ten seconds after its last message the idle program sends KEEP_ALIVE and goes on.
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.keep_alives > 0; }, 15s))
        << target_.name() << ": no KEEP_ALIVE:\n" << screen_form(program_->output());
    EXPECT_TRUE(program_->running())
        << target_.name() << ": the program ended while idle:\n" << screen_form(program_->output());

    const run_result result = quit_with("q");
    ASSERT_FALSE(result.timed_out) << "q did not end the run: " << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(shows(result.out, ending)) << target_.name() << ":\n" << screen_form(result.out);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s));
    const std::vector<received_item> items = unit_->received();
    const std::vector<std::string> expected = {
        raw_line('#'),
        raw_line('#'),
        short_request_line(sub_code::BOOTINFO_REQ),
        short_request_line(sub_code::FLASH_INFO_REQ),
        short_request_line(sub_code::KEEP_ALIVE),
        short_request_line(sub_code::LOADER_EXIT),
    };
    ASSERT_EQ(wire_lines(items), expected) << target_.name();
    // The unit stamps arrivals, which may lag the sending by a few milliseconds.
    EXPECT_GE(items[4].time_ms - items[3].time_ms, 9900.0)
        << target_.name() << ": KEEP_ALIVE before 10 s without a message";
}
