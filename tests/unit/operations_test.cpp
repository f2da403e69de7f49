#include "app/session.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/batch_operations.h"
#include "console/keys.h"
#include "link/byte_order.h"
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"
#include "support/unit_answers.h"

namespace {

class OperationsTest : public LoaderBench {
protected:
    void give(option_index index, std::int32_t position) {
        options[index].given = true;
        options[index].position = position;
    }
    // Passes with the clock moving `step` ms before each, until `until` (absolute) or the loop
    // ends; returns false when it ended.
    bool run_until(session& loop, std::uint32_t until, std::uint32_t step = 1) {
        while (static_cast<std::int32_t>(until - FakeClockAndLink::now_ms()) > 0) {
            FakeClockAndLink::now_ms() += step;
            if (!loop.pass()) {
                return false;
            }
        }
        return true;
    }
    void connect(session& loop, std::uint8_t bank = 1) {
        loop.start("tester", 0, false, false);
        unit_reports_boot(bank);
        loop.pass();
        unit_reports_flash();
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::idle);
    }

};

}  // namespace

TEST_F(OperationsTest, ConnectsOnTheBootReportThenReadsTheFlashInformation) {
    on_card_link();
    session& loop = the_session();
    const std::uint32_t begin = FakeClockAndLink::now_ms();
    loop.start(std::string(30, 'u'), 0, false, false);
    EXPECT_EQ(FakeClockAndLink::now_ms() - begin, 2000u);  // the loader's settling time
    EXPECT_EQ(op().user.view(), std::string(25, 'u'));
    EXPECT_EQ(op().link_state, link_connecting);
    EXPECT_EQ(op().first_bank, 1);
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::BOOTINFO_REQ));
    EXPECT_EQ(get_be16(u().requests.file_req.data() + 8), 512);

    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::awaiting_boot_report);
    unit_reports_boot(2);
    loop.pass();
    EXPECT_EQ(op().link_state, link_connected);
    EXPECT_EQ(op().active_bank, 2);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::FLASH_INFO_REQ));
    EXPECT_EQ(op().boot_status, boot_status_none);

    unit_reports_flash();
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_FALSE(op().flash_info_done.test());
    EXPECT_EQ(u().banks[3].fpga.flash_address, 0x87800000u);  // converted to host order once
    EXPECT_EQ(u().banks[3].software.flash_address, 0x87A00000u);

    // Idle: 50 ms asleep per pass, nothing sent.
    const std::uint32_t idle_from = FakeClockAndLink::now_ms();
    const std::size_t sent_before = FakeClockAndLink::sent().size();
    loop.pass();
    EXPECT_EQ(FakeClockAndLink::now_ms() - idle_from, 50u);
    EXPECT_EQ(FakeClockAndLink::sent().size(), sent_before);
}

TEST_F(OperationsTest, ASilentUnitOnTheCardLinkIsAskedThreeTimesThenGivenUp) {
    on_card_link();
    give(opt_info, 1);  // a command-line run ends when connecting fails
    session& loop = the_session();
    loop.start("", 1, false, false);
    const std::uint32_t first = FakeClockAndLink::now_ms();
    out.take();
    EXPECT_FALSE(run_until(loop, first + 40000));
    const auto asked = FakeClockAndLink::sent_of(sub_code::BOOTINFO_REQ);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].time, first);
    EXPECT_EQ(asked[1].time, first + 10001);
    EXPECT_EQ(asked[2].time, first + 20002);
    EXPECT_EQ(FakeClockAndLink::now_ms(), first + 30003);  // the give-up ends the run
    EXPECT_EQ(out.text(),
              "stateM2_retry : 2\n\rstateM2_retry : 1\n\r"
              "Unable to get Boot information from unit. Too many retries\n\r");
    EXPECT_EQ(op().link_state, link_not_connected);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().retry_count, 3);
    EXPECT_EQ(op().redraw_request, 1);
}

TEST_F(OperationsTest, AnInteractiveRunStaysAfterAFailedConnection) {
    on_card_link();
    session& loop = the_session();
    loop.start("", 0, false, false);
    EXPECT_TRUE(run_until(loop, FakeClockAndLink::now_ms() + 40000));
    EXPECT_EQ(op().link_state, link_not_connected);
    EXPECT_EQ(loop.op_state, operation_state::idle);
}

// A bank whose record is lost on the line is asked for again at once, and the table is whole
// when it comes; a table whose last record never comes is given up after five time-outs.
TEST_F(OperationsTest, ALostBankRecordIsAskedForAgainAndASilentTableGivenUpAfterFiveTimeOuts) {
    // A fresh session on the card, connected and waiting for the bank table.
    const auto waiting_for_table = [this]() -> session& {
        SetUp();
        on_card_link();
        session& loop = the_session();
        loop.start("", 0, false, false);
        unit_reports_boot(1);
        loop.pass();
        return loop;
    };
    const auto bank_record = [this](std::uint8_t bank) {
        unit_answers(static_cast<sub_code>(sub_byte(sub_code::FLASH_INFO) + bank),
                     std::vector<std::uint8_t>(2 + sizeof(bank_info), 0));
    };
    session& loop = waiting_for_table();
    ASSERT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    for (const std::uint8_t bank : {0, 1, 3}) {
        bank_record(bank);
    }
    loop.pass();
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FLASH_INFO_REQ).size(), 2u);
    EXPECT_EQ(loop.op_state, operation_state::awaiting_bank_records);
    bank_record(2);
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_FALSE(operation_failed(u()));
    EXPECT_TRUE(bank_reported(u(), 2));

    // A round whose last record came broken is asked for again after a second, not ten.
    session& broken = waiting_for_table();
    for (const std::uint8_t bank : {0, 1, 2}) {
        bank_record(bank);
    }
    u().inbox.on_damaged_frame();
    run_until(broken, FakeClockAndLink::now_ms() + 1200);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FLASH_INFO_REQ).size(), 2u);

    session& silent = waiting_for_table();
    out.take();
    run_until(silent, FakeClockAndLink::now_ms() + 60000);
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::FLASH_INFO_REQ).size(), 5u);
    EXPECT_EQ(out.text().rfind("Unable to get Flash information from unit. Too many retries\n\r",
                               0),
              0u)
        << out.text();
    EXPECT_EQ(silent.op_state, operation_state::idle);
    EXPECT_EQ(op().link_state, link_connected);
}

// The keep-alive answers no question, so it must not hold off the time-out of a question that
// went unanswered: the connection is asked for again and given up as on the card.
TEST_F(OperationsTest, OnTheSerialLinkTimeOutsRunWhileKeepAlivesGoOut) {
    on_serial_link();
    session& loop = the_session();
    loop.start("", 1, false, false);
    EXPECT_EQ(FakeClockAndLink::purges(), 1);
    const std::uint32_t first = FakeClockAndLink::now_ms();
    out.take();
    run_until(loop, first + 65000);
    const auto asked = FakeClockAndLink::sent_of(sub_code::BOOTINFO_REQ);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1].time, first + 10001);
    EXPECT_EQ(asked[2].time, first + 20002);
    // A keep-alive goes only after 10 s with nothing sent at all.
    const auto alive = FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE);
    ASSERT_FALSE(alive.empty());
    EXPECT_GT(alive.front().time - asked.back().time, 10000u);
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().link_state, link_not_connected);
    EXPECT_NE(out.text().find("Unable to get Boot information from unit. Too many retries\n\r"),
              std::string::npos)
        << out.text();
    EXPECT_EQ(op().retry_count, 3);
}

// The warning is for a question the unit leaves unanswered, once per silence: an idle unit,
// which answers no keep-alive, is not warned about.
TEST_F(OperationsTest, TheSilenceWarningIsForUnansweredRequestsOncePerSilence) {
    on_serial_link();
    session& loop = the_session();
    connect(loop);
    fake.link.mark_heard(FakeClockAndLink::now_ms());  // the flash information has come in
    const std::string warning = "Keep alive timeout. Start operation again\n";
    out.take();
    run_until(loop, FakeClockAndLink::now_ms() + 31000, 50);
    EXPECT_EQ(out.take(), "");
    EXPECT_FALSE(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).empty());

    send_boot_info_request(u());  // unanswered from here on
    run_until(loop, FakeClockAndLink::now_ms() + 31000, 50);
    EXPECT_EQ(out.take(), warning);
    run_until(loop, FakeClockAndLink::now_ms() + 31000, 50);
    EXPECT_EQ(out.take(), "");

    fake.link.mark_heard(FakeClockAndLink::now_ms());  // the unit answers
    run_until(loop, FakeClockAndLink::now_ms() + 31000, 50);
    EXPECT_EQ(out.take(), "");
    send_boot_info_request(u());
    run_until(loop, FakeClockAndLink::now_ms() + 31000, 50);
    EXPECT_EQ(out.take(), warning);
}

TEST_F(OperationsTest, KeepAliveAfterTenAndAHalfSecondsOfSilence) {
    on_serial_link();
    session& loop = the_session();
    connect(loop);
    fake.link.mark_heard(FakeClockAndLink::now_ms());
    FakeClockAndLink::sent().clear();
    const std::uint32_t last_send = op().last_send_tick;
    run_until(loop, last_send + 10500, 50);
    const auto alive = FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE);
    ASSERT_EQ(alive.size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_GT(alive[0].time - last_send, 10000u);
    EXPECT_EQ(op().last_send_tick, alive[0].time);
    EXPECT_LE(op().last_request_tick, last_send);  // no wait is restarted
    EXPECT_EQ(out.text().find("Keep alive timeout"), std::string::npos);
}

TEST_F(OperationsTest, NoKeepAliveOnTheCardLinkOrInRemoteAccess) {
    on_card_link();
    session& loop = the_session();
    connect(loop);
    run_until(loop, FakeClockAndLink::now_ms() + 30000, 50);
    EXPECT_TRUE(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).empty());

    // Remote access: the line is a terminal, framed requests stay home.
    fake.link.make_serial();
    fake.link.set_mode(line_mode::remote_access);
    FakeClockAndLink::sent().clear();
    send_boot_info_request(u());
    run_until(loop, FakeClockAndLink::now_ms() + 30000, 50);
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
}

TEST_F(OperationsTest, SafeModeAsksForSafeModeFirstAndBootInformationOnRetries) {
    on_card_link();
    session& loop = the_session();
    loop.start("", 3, true, true);
    EXPECT_EQ(op().first_bank, 0);
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::SAFEMODE_REQ));
    EXPECT_NE(out.text().find("firmware_operation.safemode 1\n"), std::string::npos);
    EXPECT_NE(out.text().find("Verbose level 3 enabled\n"), std::string::npos);
    run_until(loop, FakeClockAndLink::now_ms() + 10500);
    EXPECT_EQ(FakeClockAndLink::sent().back().sub, sub_byte(sub_code::BOOTINFO_REQ));
}

TEST_F(OperationsTest, OptionsBankToGetPromMakeACommandLineRunTheOthersNever) {
    on_card_link();
    for (int index = 0; index < static_cast<int>(option_count); ++index) {
        SetUp();
        on_card_link();
        give(static_cast<option_index>(index), 1);
        session& loop = the_session();
        out.take();
        loop.start("", 0, false, false);
        const bool batch = index <= opt_get_prom;
        EXPECT_EQ(op().batch_mode, batch ? 1 : 0) << options[index].name;
        // A command-line run shows the banner, an interactive one the menu.
        const std::string text = out.take();
        EXPECT_EQ(text == "  Kestrel QX_RL4471902-3\n", batch) << options[index].name << text;
        EXPECT_EQ(!op().output_folder.view().empty(), batch);
    }
}

TEST_F(OperationsTest, ACommandLineRunWithNothingToDoConnectsAndEnds) {
    on_serial_link();
    give(opt_comment, 2);
    session& loop = the_session();
    connect(loop);
    EXPECT_TRUE(loop.pass());   // the comment starts nothing
    EXPECT_FALSE(loop.pass());  // and nothing is left
    EXPECT_EQ(loop.last_operation_position(), 2);
    FakeClockAndLink::sent().clear();
    loop.finish();
    ASSERT_EQ(FakeClockAndLink::sent().size(), 1u);
    EXPECT_EQ(FakeClockAndLink::sent()[0].sub, sub_byte(sub_code::LOADER_EXIT));
    EXPECT_TRUE(fake.link.stopped);
}

TEST_F(OperationsTest, TheExitSequenceSendsNothingOnTheCardLink) {
    on_card_link();
    session& loop = the_session();
    connect(loop);
    FakeClockAndLink::sent().clear();
    const std::uint32_t before = FakeClockAndLink::now_ms();
    loop.finish();
    EXPECT_TRUE(FakeClockAndLink::sent().empty());
    EXPECT_EQ(FakeClockAndLink::now_ms() - before, 1000u);
}

TEST_F(OperationsTest, QuitKeyEndsTheLoop) {
    on_card_link();
    session& loop = the_session();
    loop.start("", 0, false, false);
    set_key_script("xq");
    EXPECT_TRUE(loop.pass());
    EXPECT_FALSE(loop.pass());
}

TEST_F(OperationsTest, RedrawRequestsWaitThreeSecondsOnlyAfterAnEndedOperation) {
    on_card_link();
    session& loop = the_session();
    connect(loop);
    op().redraw_request = 1;
    std::uint32_t before = FakeClockAndLink::now_ms();
    loop.pass();
    EXPECT_EQ(FakeClockAndLink::now_ms() - before, 3050u);
    EXPECT_EQ(op().redraw_request, 0);
    op().redraw_request = 2;
    before = FakeClockAndLink::now_ms();
    out.take();
    loop.pass();
    EXPECT_EQ(FakeClockAndLink::now_ms() - before, 50u);
    EXPECT_NE(out.text().find("  Q: Quit\n\r"), std::string::npos);
}

namespace {

class BootWaitTest : public OperationsTest {
protected:
    // Connected on bank `from`, a boot to `to` requested as the boot dialog does.
    void boot(session& loop, std::uint8_t from, std::uint8_t to) {
        on_card_link();
        connect(loop, from);
        op().boot_bank = to;
        Send_reboot_req(u(), to);
        loop.op_state = operation_state::boot_requested;
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::awaiting_boot);
        out.take();
        FakeClockAndLink::sent().clear();
    }
};

}  // namespace

TEST_F(BootWaitTest, TheBootLoaderOnTheWayIsPassedOverAndTheAskedBankCompletes) {
    session& loop = the_session();
    boot(loop, 1, 2);
    loop.pass();  // the first pass of the wait asks for the boot report
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::BOOTINFO_REQ).size(), 1u);
    unit_reports_boot(0);
    loop.pass();
    EXPECT_EQ(loop.op_state, operation_state::awaiting_boot);
    EXPECT_EQ(out.text(), "");
    unit_reports_boot(2);
    loop.pass();
    EXPECT_EQ(out.take(), "\n  Bootload completed\n");
    EXPECT_EQ(loop.op_state, operation_state::idle);
    EXPECT_EQ(op().redraw_request, 1);
    EXPECT_EQ(op().boot_status, boot_status_none);
}

TEST_F(BootWaitTest, FailureReportsAndAThirdBankFail) {
    {
        session& loop = the_session();
        boot(loop, 1, 2);
        unit_answers(sub_code::BOOTINFO_FAIL, {1});
        loop.pass();
        EXPECT_EQ(out.take(), "\n  Bootload failed. Recovered to bank\n");
        EXPECT_EQ(loop.op_state, operation_state::idle);
    }
    {
        SetUp();
        session& loop = the_session();
        boot(loop, 2, 3);
        unit_reports_boot(1);
        loop.pass();
        EXPECT_EQ(out.take(), "\n  Bootload failed. Recovered to bank\n");
    }
    {
        SetUp();
        session& loop = the_session();
        boot(loop, 1, 2);
        unit_answers(sub_code::BOOTINFO_FAIL, {2});  // fails, yet names the asked bank
        loop.pass();
        EXPECT_EQ(out.take(), "\n  Bootload completed\n\n  Bootload failed. Recovered to bank\n");
    }
}

TEST_F(BootWaitTest, BankZeroCompletesOnItsOwnReport) {
    session& loop = the_session();
    boot(loop, 2, 0);
    unit_reports_boot(0);
    loop.pass();
    EXPECT_EQ(out.take(), "\n  Bootload completed\n");
}

TEST_F(BootWaitTest, NoReportForMoreThan250SecondsFails) {
    session& loop = the_session();
    boot(loop, 1, 2);
    const std::uint32_t asked = FakeClockAndLink::now_ms();
    // The unit is asked for its report every 160 ms, yet those requests do not restart the
    // wait: a unit that never reports fails the boot 250 s after the reboot request.
    bool ended = false;
    for (int k = 0; k < 30000 && !ended; ++k) {
        FakeClockAndLink::now_ms() += 10;
        loop.pass();
        ended = loop.op_state == operation_state::idle;
    }
    ASSERT_TRUE(ended);
    EXPECT_GT(FakeClockAndLink::now_ms() - asked, 250000u);
    EXPECT_LT(FakeClockAndLink::now_ms() - asked, 250100u);
    const std::size_t polls = FakeClockAndLink::sent_of(sub_code::BOOTINFO_REQ).size();
    EXPECT_GE(polls, 250000u / 160);
    EXPECT_LE(polls, 250000u / 160 + 1);
    EXPECT_EQ(out.text(), "Timeout. Operation aborted\n\n  Bootload failed\n\r");
}

namespace {

// A message of the unit as a receiver hands it to a session's inbox.
void hand_in(answer_inbox& inbox, sub_code sub, const std::vector<std::uint8_t>& params) {
    std::vector<std::uint8_t> m = {pc_address, unit_address, 0, 0, cmd_loader, sub_byte(sub)};
    m.insert(m.end(), params.begin(), params.end());
    const auto length = static_cast<std::uint16_t>(m.size() - head_overhead);
    put_be16(m.data() + head_length, length);
    inbox.on_message(m.data(), length, unit_address, cmd_loader, sub_byte(sub));
}

// What a unit running `bank` answers while it is connected: its boot report, and once asked for
// them its banks.
void boot_answer(answer_inbox& inbox, std::uint8_t bank) {
    hand_in(inbox, sub_code::BOOTINFO_ACK, {bank});
}
void bank_answers(answer_inbox& inbox, std::uint8_t bank) {
    for (std::uint8_t k = 0; k < 4; ++k) {
        std::vector<std::uint8_t> record(2 + sizeof(bank_info), 0);
        put_be32(record.data() + 2 + 4, 0x86000000u + bank * 0x100u + k);
        hand_in(inbox, static_cast<sub_code>(sub_byte(sub_code::FLASH_INFO) + k), record);
    }
}

}  // namespace

// Two units in one process: each session with its own link, its answers handed in by a
// receiver thread of its own, both served in the same loop passes. Neither sees the other's
// answers, requests or state.
TEST(TwoSessions, RunSideBySideInTheSamePassesWithoutTouchingEachOther) {
    FakeClockAndLink clock;
    OutputCapture out;
    set_key_script("");
    option_table options_a;
    option_table options_b;
    build_option_table(options_a);
    build_option_table(options_b);
    captured_link link_a;
    captured_link link_b;
    session a(options_a, link_a);
    session b(options_b, link_b);
    for (session* s : {&a, &b}) {
        s->set_real_waits(false);
    }
    a.start("first", 0, false, false);
    b.start("second", 0, false, false);

    // Each unit's answers come in on a thread of its own while the loop may be taking them.
    std::thread receiver_a([&a] { boot_answer(a.loader().inbox, 1); });
    std::thread receiver_b([&b] { boot_answer(b.loader().inbox, 2); });
    a.pass();
    b.pass();
    receiver_a.join();
    receiver_b.join();
    for (int pass = 0; pass < 2; ++pass) {
        a.pass();
        b.pass();
    }
    std::thread banks_a([&a] { bank_answers(a.loader().inbox, 1); });
    std::thread banks_b([&b] { bank_answers(b.loader().inbox, 2); });
    a.pass();
    b.pass();
    banks_a.join();
    banks_b.join();
    for (int pass = 0; pass < 4; ++pass) {
        a.pass();
        b.pass();
    }
    ASSERT_EQ(a.op_state, operation_state::idle);
    ASSERT_EQ(b.op_state, operation_state::idle);
    EXPECT_EQ(a.loader().op.current_bank, 1);
    EXPECT_EQ(b.loader().op.current_bank, 2);
    EXPECT_EQ(a.loader().banks[3].fpga.flash_address, 0x86000103u);
    EXPECT_EQ(b.loader().banks[3].fpga.flash_address, 0x86000203u);
    EXPECT_EQ(a.loader().op.user.view(), "first");

    // In one pass each starts an operation of its own; each link carries only its own.
    link_a.requests.clear();
    link_b.requests.clear();
    begin_log(a.loader(), false, a.op_state);
    begin_boot(b.loader(), 3, b.op_state);
    a.pass();
    b.pass();
    ASSERT_EQ(link_a.requests.size(), 1u);
    EXPECT_EQ(link_a.requests[0].sub, sub_byte(sub_code::LOG_REQ));
    ASSERT_EQ(link_b.requests.size(), 1u);
    EXPECT_EQ(link_b.requests[0].sub, sub_byte(sub_code::REBOOT_REQ));
    EXPECT_EQ(a.op_state, operation_state::fetching_log);
    EXPECT_EQ(b.op_state, operation_state::awaiting_boot);
    EXPECT_FALSE(operation_failed(a.loader()));
    EXPECT_FALSE(operation_failed(b.loader()));
    clear_key_script();
    set_key_wait_idle(nullptr);
}
