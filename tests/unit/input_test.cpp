#include "console/input.h"

#include <gtest/gtest.h>

#include <string>

#include "console/keys.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"

namespace {

class InputTest : public LoaderBench {
protected:
    void SetUp() override {
        LoaderBench::SetUp();
        set_key_wait_idle([this] { keep_alive_step(u()); });  // as the session hands it in
    }
    // Reads a number from the keys; the result, the number and what was echoed.
    struct entry {
        int result;
        int number;
        std::string echo;
    };
    entry number_from(const std::string& keys) {
        set_key_script(keys);
        entry e{0, -7, {}};
        e.result = read_number(e.number);
        e.echo = out.take();
        return e;
    }
};

TEST_F(InputTest, WaitKeyGivesKeysUnechoedThenCancelsAtEndOfInput) {
    set_key_script(std::string("a\0\xff", 3));
    EXPECT_EQ(wait_key(), 'a');
    EXPECT_EQ(wait_key(), 0);
    EXPECT_EQ(wait_key(), 0xff);
    EXPECT_EQ(wait_key(), 'q');  // no key will come: the question is cancelled
    EXPECT_EQ(wait_key(), 'q');
    EXPECT_EQ(out.text(), "");
}

TEST_F(InputTest, WaitKeyRunsItsIdleWorkInThePassThatReadsTheKey) {
    on_serial_link();
    op().last_send_tick = FakeClockAndLink::now_ms() - 10001;
    set_key_script("x");
    EXPECT_EQ(wait_key(), 'x');
    ASSERT_EQ(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).size(), 1u);
    EXPECT_EQ(op().last_send_tick, FakeClockAndLink::now_ms());

    FakeClockAndLink::now_ms() += 10001;  // also while waiting out the end of input
    EXPECT_EQ(wait_key(), 'q');
    EXPECT_EQ(FakeClockAndLink::sent_of(sub_code::KEEP_ALIVE).size(), 2u);
}

TEST_F(InputTest, ReadNumberEchoesDigitsAndOtherKeysEndsAtEnter) {
    entry e = number_from("1x2\r");
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.number, 12);
    EXPECT_EQ(e.echo, "1x2");

    e = number_from(std::string("3\0" "4\n", 4));  // key 0 ignored, line feed ends too
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.number, 34);
    EXPECT_EQ(e.echo, "34");

    e = number_from("\r");
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.number, 0);
    EXPECT_EQ(e.echo, "");
}

TEST_F(InputTest, ReadNumberCancelsOnQAndAtEndOfInput) {
    for (const char* keys : {"12q3\r", "12Q", "12"}) {
        const entry e = number_from(keys);
        EXPECT_EQ(e.result, -1) << keys;
        EXPECT_EQ(e.echo, "12") << keys;
    }
}

TEST_F(InputTest, ReadNumberWrapsLongNumbersModulo2To32) {
    EXPECT_EQ(number_from("4294967296\r").number, 0);
    EXPECT_EQ(number_from("4294967295\r").number, -1);
    const entry e = number_from("99999999999999999999\r");  // (10^20 - 1) mod 2^32
    EXPECT_EQ(e.number, 1661992959);
    EXPECT_EQ(e.echo, "99999999999999999999");
}

}  // namespace

// The comment is typed as a line: Backspace (Ctrl-H) erases as DEL does, instead of storing a
// byte that would reach the unit.
TEST_F(InputTest, ReadLineEditsWithBackspaceAndCutsToTheLimit) {
    set_key_script("fieldx\x08 fix\x7f\x7fix\n");
    std::string line;
    EXPECT_TRUE(read_line(line, 25));
    EXPECT_EQ(line, "field fix");
    set_key_script("0123456789\x08\n");
    EXPECT_TRUE(read_line(line, 5));
    EXPECT_EQ(line, "01234");
}
