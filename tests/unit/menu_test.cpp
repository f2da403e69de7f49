#include "console/menu.h"

#include <gtest/gtest.h>

#include "app/options.h"
#include "app/session.h"
#include "console/keys.h"
#include "protocol/loader_state.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"

namespace {

class MenuKeys : public LoaderBench {
protected:
    void SetUp() override {
        LoaderBench::SetUp();
        on_serial_link();
        loop().op_state = operation_state::idle;
        op().link_state = link_connected;
        op().current_bank = 1;
    }
    // Feeds the keys one at a time to the session's key step, as its passes take them;
    // returns 0 when the last one asked to quit, else 1.
    int press(const std::string& keys) {
        set_key_script(keys);
        bool keep_going = true;
        for (std::size_t k = 0; k < keys.size(); ++k) {
            keep_going = loop().take_key();
        }
        return keep_going ? 1 : 0;
    }
    session& loop() { return the_session(); }
    operation_state& op_state() { return loop().op_state; }
};

}  // namespace

TEST_F(MenuKeys, NoKeyReturnsAtOnce) {
    set_key_script("");
    const std::uint32_t before = FakeClockAndLink::now_ms();
    EXPECT_EQ(handle_key(u()).request, user_request::none);
    EXPECT_EQ(FakeClockAndLink::now_ms(), before);
    EXPECT_EQ(out.text(), "");
}

TEST_F(MenuKeys, QuitInBothCases) {
    EXPECT_EQ(press("q"), 0);
    EXPECT_EQ(press("Q"), 0);
    EXPECT_EQ(press("x"), 1);
}

TEST_F(MenuKeys, RemoteAccessOnTheSerialLinkAndBack) {
    EXPECT_EQ(press("#"), 1);
    EXPECT_EQ(out.take(), "Change to Polling mode\n");
    const auto exits = FakeClockAndLink::sent_of(sub_code::LOADER_EXIT);
    EXPECT_EQ(exits.size(), 2u);
    EXPECT_EQ(FakeClockAndLink::raw_bytes(), "R");
    EXPECT_EQ(fake.link.mode(), line_mode::remote_access);

    // Typed keys go to the unit and mean nothing here: q does not quit.
    FakeClockAndLink::sent().clear();
    EXPECT_EQ(press("abcqrv"), 1);
    EXPECT_EQ(FakeClockAndLink::raw_bytes(), "Rabcqrv");
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    EXPECT_EQ(out.take(), "");

    press("#");
    EXPECT_EQ(FakeClockAndLink::raw_bytes(), "Rabcqrv##");
    EXPECT_EQ(fake.link.mode(), line_mode::loader);
    const std::string screen = out.take();
    EXPECT_EQ(screen.rfind("Change to interrupt mode\n", 0), 0u);
    EXPECT_NE(screen.find("  Q: Quit\n\r"), std::string::npos);  // redrawn
}

TEST_F(MenuKeys, HashDoesNothingOnTheCardLink) {
    on_card_link();
    press("#");
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(FakeClockAndLink::raw_bytes().empty());
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
}

TEST_F(MenuKeys, OperationKeysWhileAnotherOperationRuns) {
    op_state() = operation_state::awaiting_chunk_answer;  // a download in progress
    press("b");
    EXPECT_EQ(op_state(), operation_state::awaiting_chunk_answer);  // boot only from idle
    press("s");
    EXPECT_EQ(out.text(), "");  // the bank table only when idle
    press("L");
    EXPECT_EQ(op_state(), operation_state::load_flash_dialog);  // a load starts at once
    press("e");
    EXPECT_EQ(op_state(), operation_state::load_eeprom_dialog);
}

TEST_F(MenuKeys, ViewLogStartsTheLogThenListsIt) {
    press("w");
    EXPECT_EQ(op_state(), operation_state::fetching_log_to_view);
    ASSERT_EQ(FakeClockAndLink::sent_of(sub_code::LOG_REQ).size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::LOG_REQ)[0].bytes[6], 0);
    press("t");
    EXPECT_EQ(op_state(), operation_state::fetching_log);
}

TEST_F(MenuKeys, BootKeyRunsTheDialog) {
    press("b2y");
    EXPECT_EQ(op_state(), operation_state::boot_requested);
    ASSERT_EQ(FakeClockAndLink::sent_of(sub_code::REBOOT_REQ).size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::REBOOT_REQ)[0].bytes[6], 0x82);
    EXPECT_EQ(op().boot_bank, 2);
}

TEST_F(MenuKeys, WhileConnectingOnlyRefreshQuitAndVerbose) {
    op().link_state = link_connecting;
    press("LBGT#");
    EXPECT_EQ(op_state(), operation_state::idle);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    press("v7\r");
    EXPECT_EQ(op().verbose_level, 7);
}

TEST_F(MenuKeys, ReconnectAfterAFailedConnection) {
    op().link_state = link_not_connected;
    u().budgets.boot_report = 0;
    press("c");
    EXPECT_EQ(op_state(), operation_state::awaiting_boot_report);
    EXPECT_EQ(u().budgets.boot_report, 3);
    EXPECT_EQ(op().link_state, link_connecting);
    EXPECT_EQ(FakeClockAndLink::purges(), 1);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());  // the next request comes at the time-out
    EXPECT_NE(out.text().find("  Connecting..."), std::string::npos);
}

TEST_F(MenuKeys, ACommandLineRunTakesOnlyTheQuitKey) {
    op().batch_mode = 1;
    EXPECT_EQ(press("b2ylgw#"), 1);
    EXPECT_EQ(op_state(), operation_state::idle);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    EXPECT_EQ(press("q"), 0);
}
