// The key # on a serial link: the line becomes a plain terminal to the unit (remote access),
// every key typed goes to the unit as it is and the unit's echo shows on the screen; # again
// hands the line back to framed loader messages.
#include <algorithm>
#include <string>
#include <vector>

#include "e2e/menu_session.h"
#include "e2e/screen_text.h"
#include "e2e/wire_log.h"
#include "tools/unit_sim/sim_terminal.h"

namespace {

// What the unit got, without the KEEP_ALIVE messages of loader mode: those may come at any
// time in it, depending on how long a step took. While the line is a terminal (from the byte
// R on to the last '#') every item stays, so that a framed message there shows.
std::vector<std::string> without_keep_alives_in_loader_mode(const std::vector<std::string>& lines) {
    const auto terminal_start = std::find(lines.begin(), lines.end(), raw_line('R'));
    const auto last_hash = std::find(lines.rbegin(), lines.rend(), raw_line('#'));
    const auto terminal_end = last_hash == lines.rend() ? lines.end() : last_hash.base();
    std::vector<std::string> kept;
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        const bool in_terminal = it >= terminal_start && it < terminal_end;
        if (in_terminal || *it != short_request_line(sub_code::KEEP_ALIVE)) {
            kept.push_back(*it);
        }
    }
    return kept;
}

}  // namespace

TEST_F(MenuRun, HashTogglesBetweenLoaderModeAndRemoteAccess) {
    ASSERT_NO_FATAL_FAILURE(start_connected());

    // Into remote access: the unit leaves framed messages and greets as a terminal.
    std::size_t from = mark();
    press("#");
    const std::size_t switched = await_text("Change to Polling mode\n", from, 10s);
    ASSERT_NE(switched, std::string::npos) << target_.name() << ":\n" << screen_from(from);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.mode == unit_mode::polling; },
                                  5s))
        << target_.name() << ": the unit did not become a terminal";
    // The terminal puts a carriage return before each line feed; screens are compared without.
    const std::string greeting = without_carriage_returns(unit_terminal::greeting());
    const std::size_t greeted = await_text(greeting, switched, 10s);
    EXPECT_NE(greeted, std::string::npos)
        << target_.name() << ": the unit's greeting is not shown:\n" << screen_from(from);

    // Keys go to the unit one by one, q included, and mean nothing to the program.
    press("abc");
    press("q");
    EXPECT_NE(await_text(std::string(terminal_prompt) + "abcq", switched, 10s), std::string::npos)
        << target_.name() << ": the unit's echo is not shown:\n" << screen_from(from);
    EXPECT_TRUE(program_->running()) << target_.name() << ": q ended the run in remote access";

    // Back to loader mode: "##" to the unit, and the menu again.
    from = mark();
    press("#");
    const std::size_t back = await_text("Change to interrupt mode\n", from, 10s);
    ASSERT_NE(back, std::string::npos) << target_.name() << ":\n" << screen_from(from);
    EXPECT_NE(await_text(connected_menu(1, 0), back, redraw_wait()), std::string::npos)
        << target_.name() << ": no menu after the switch back:\n" << screen_from(from);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.mode == unit_mode::framed; },
                                  5s))
        << target_.name() << ": the unit did not return to framed messages";

    // The menu keys act again.
    from = mark();
    press("R");
    EXPECT_NE(await_text(connected_menu(1, 0), from, redraw_wait()), std::string::npos)
        << target_.name() << ": R did not redraw:\n" << screen_from(from);

    quit();
    const std::vector<std::string> expected = {
        raw_line('#'),
        raw_line('#'),
        short_request_line(sub_code::BOOTINFO_REQ),
        short_request_line(sub_code::FLASH_INFO_REQ),
        short_request_line(sub_code::LOADER_EXIT),
        short_request_line(sub_code::LOADER_EXIT),
        raw_line('R'),
        raw_line('a'),
        raw_line('b'),
        raw_line('c'),
        raw_line('q'),
        raw_line('#'),
        raw_line('#'),
        short_request_line(sub_code::LOADER_EXIT),
    };
    EXPECT_EQ(without_keep_alives_in_loader_mode(wire()), expected) << target_.name();
    EXPECT_EQ(unit_->snapshot().loader_exits, 3U) << target_.name();
}
