#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include "link/card_link.h"
#include "link/card_receiver.h"
#include "link/card_sender.h"
#include "link/card_window.h"
#include "link/frame.h"
#include "platform/clock.h"
#include "protocol/loader_state.h"
#include "protocol/senders.h"
#include "protocol/unit.h"
#include "support/capture.h"

namespace {

// A window that records every access; the receive register hands out scripted words, then 0.
struct access {
    bool store;
    std::size_t index;
    std::uint32_t value;
    bool operator==(const access&) const = default;
};

struct recording_window {
    std::vector<access>* log;
    std::deque<std::uint32_t>* words;
    std::size_t rx_data;

    std::uint32_t load(std::size_t index) const {
        std::uint32_t value = 0;
        if (index == rx_data && !words->empty()) {
            value = words->front();
            words->pop_front();
        }
        log->push_back({false, index, value});
        return value;
    }
    void store(std::size_t index, std::uint32_t value) const {
        log->push_back({true, index, value});
    }
};

// What reached the link's listener.
struct dispatched {
    std::vector<std::uint8_t> message;
    std::uint16_t length;
    std::uint8_t sa, cmd, sub;
};
std::vector<dispatched> received;
void (*after_dispatch)() = nullptr;

struct recording_listener final : link_listener {
    void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                    std::uint8_t cmd, std::uint8_t sub) override {
        const std::size_t size = std::min<std::size_t>(std::size_t{length} + 5, rx_buffer_size);
        received.push_back(
            {std::vector<std::uint8_t>(message, message + size), length, sa, cmd, sub});
        if (after_dispatch != nullptr) {
            after_dispatch();
        }
    }
    void on_failure(const result&) override { ADD_FAILURE() << "the card link does not fail"; }
    int trace_level() const override { return level; }
    int level = 0;
};

// The clock: a tick that moves only when told, sleeps recorded.
std::uint32_t now_ms = 0;
std::vector<std::uint32_t> sleeps;
void (*on_sleep)() = nullptr;
std::uint32_t fake_tick() { return now_ms; }
void fake_sleep(std::uint32_t ms) {
    sleeps.push_back(ms);
    if (on_sleep != nullptr) {
        on_sleep();
    }
}

// The words a message travels in: four bytes a word, first byte lowest, padded with three
// further bytes and to a whole word.
std::vector<std::uint32_t> words_of(std::vector<std::uint8_t> message) {
    message.resize(message.size() + 3, 0xEE);
    while (message.size() % 4 != 0) {
        message.push_back(0xEE);
    }
    std::vector<std::uint32_t> words;
    for (std::size_t i = 0; i < message.size(); i += 4) {
        words.push_back(std::uint32_t{message[i]} | std::uint32_t{message[i + 1]} << 8 |
                        std::uint32_t{message[i + 2]} << 16 | std::uint32_t{message[i + 3]} << 24);
    }
    return words;
}

std::vector<std::uint8_t> message_of(std::uint8_t da, std::uint8_t sa, std::uint16_t length) {
    std::vector<std::uint8_t> m(std::size_t{length} + 5);
    for (std::size_t i = 0; i < m.size(); ++i) {
        m[i] = static_cast<std::uint8_t>(0x40 + i * 7);
    }
    m[0] = da;
    m[1] = sa;
    m[2] = static_cast<std::uint8_t>(length >> 8);
    m[3] = static_cast<std::uint8_t>(length);
    return m;
}

class CardLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        received.clear();
        after_dispatch = nullptr;
        sleeps.clear();
        on_sleep = nullptr;
        now_ms = 5000;
        set_clock(&fake_tick, &fake_sleep);
    }
    void TearDown() override { set_clock(nullptr, nullptr); }
    recording_window window(std::size_t rx_data = card_rx_data_v2) {
        return recording_window{&log, &words, rx_data};
    }
    void script(const std::vector<std::uint32_t>& more) {
        words.insert(words.end(), more.begin(), more.end());
    }
    std::vector<access> log;
    std::deque<std::uint32_t> words;
    OutputCapture output;
    recording_listener listener;
    std::vector<std::uint8_t> rx_buffer = std::vector<std::uint8_t>(rx_buffer_size);
    std::atomic<std::uint32_t> last_heard{0};
    card_receiver_context context{rx_buffer, listener, last_heard};
    std::atomic<bool> stop{false};
};

// ---- Sending -----------------------------------------------------------------------------

TEST_F(CardLinkTest, AMessageIsTwoSymbolsPerByteAndSixMoreAllToTxSymbol) {
    const std::vector<std::uint8_t> request{0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    send_card_message(window(), request.data(), request.size(), 0);
    const std::vector<std::uint32_t> expected{0x10, 0x1E, 0x18, 0x1B, 0x11, 0x06, 0x19,
                                              0x06, 0x19, 0x07, 0x12, 0x0D, 0x11, 0x0C,
                                              0x19, 0x06, 0x16, 0x0A, 0x05, 0x0E};
    ASSERT_EQ(log.size(), expected.size());
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i], (access{true, card_tx_symbol, expected[i]})) << i;
    }

    for (const std::size_t n : {std::size_t{5}, std::size_t{12}, std::size_t{522}}) {
        log.clear();
        const auto message = message_of(0x2A, 0x10, static_cast<std::uint16_t>(n - 5));
        send_card_message(window(), message.data(), n, 0);
        EXPECT_EQ(log.size(), 2 * n + 6) << n;
        EXPECT_TRUE(std::all_of(log.begin(), log.end(), [](const access& a) {
            return a.store && a.index == card_tx_symbol && a.value < 0x20;
        })) << n;
    }
    EXPECT_EQ(output.take(), "");
}

TEST_F(CardLinkTest, SendingTracesAboveLevel5) {
    const std::vector<std::uint8_t> request{0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    send_card_message(window(), request.data(), request.size(), 5);
    EXPECT_EQ(output.take(), "");
    send_card_message(window(), request.data(), request.size(), 6);
    EXPECT_EQ(output.take(), "\nSend_Message Lenght 12 (CMD 55 SUB 1F P1  0)\n");
    // A message without SUB and P1 shows 0 for them.
    const std::vector<std::uint8_t> bare{0x2A, 0x10, 0x00, 0x00, 0x07};
    send_card_message(window(), bare.data(), bare.size(), 6);
    EXPECT_EQ(output.take(), "\nSend_Message Lenght 10 (CMD  7 SUB  0 P1  0)\n");
}

TEST_F(CardLinkTest, RequestsReachTheLinksWindowThroughTheSenders) {
    std::array<std::uint32_t, 0x200> registers{};
    registers.fill(0xDEADBEEF);
    card_unit_link card(registers.data(), card_rx_data_v2);
    unit u(card);
    const std::vector<std::uint8_t> request{0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    now_ms = 777;
    EXPECT_TRUE(send_request(u, request.data(), request.size()));
    EXPECT_EQ(registers[card_tx_symbol], 0x0Eu);  // the last symbol stays
    EXPECT_EQ(u.op.last_request_tick, 777u);
    for (std::size_t i = 0; i < registers.size(); ++i) {
        if (i != card_tx_symbol) {
            EXPECT_EQ(registers[i], 0xDEADBEEFu) << i;
        }
    }
}

// ---- Receiving ---------------------------------------------------------------------------

TEST_F(CardLinkTest, AMessageIsReadWholeAndDispatched) {
    const auto message = message_of(0x2A, 0x2A, 7);  // 12 bytes: 3 further words
    script(words_of(message));
    script({0x12345678});
    EXPECT_TRUE(card_receive_message(window(), card_rx_data_v2, context));
    const std::vector<access> expected{{false, card_rx_pre, 0},
                                       {false, card_rx_data_v2, words_of(message)[0]},
                                       {false, card_rx_data_v2, words_of(message)[1]},
                                       {false, card_rx_data_v2, words_of(message)[2]},
                                       {false, card_rx_data_v2, words_of(message)[3]}};
    EXPECT_EQ(log, expected);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, message);
    EXPECT_EQ(received[0].length, 7u);
    EXPECT_EQ(received[0].sa, 0x2A);
    EXPECT_EQ(received[0].cmd, message[4]);
    EXPECT_EQ(received[0].sub, message[5]);
    EXPECT_EQ(words.size(), 1u);  // nothing after the message is touched
}

TEST_F(CardLinkTest, FurtherWordsFollowTheLengthField) {
    // Length 0: one further word; 0xFFFF: 16,385.
    for (const std::uint16_t length : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{4},
                                       std::uint16_t{0xFFFF}}) {
        log.clear();
        words.clear();
        received.clear();
        const auto message = message_of(0x2A, 0x2A, length);
        script(words_of(message));
        script({0xCAFE0001});
        EXPECT_TRUE(card_receive_message(window(card_rx_data_v6), card_rx_data_v6, context));
        const std::size_t further = ((std::size_t{length} + 3) >> 2) + 1;
        EXPECT_EQ(log.size(), 2 + further) << length;
        EXPECT_EQ(words.size(), 1u) << length;
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].length, length);
        EXPECT_EQ(received[0].message, message) << length;
    }
    EXPECT_EQ(((std::size_t{0xFFFF} + 3) >> 2) + 1, 16385u);
}

TEST_F(CardLinkTest, AMessageAddressedToZeroIsNeverSeen) {
    const auto hidden = message_of(0x00, 0x2A, 2);
    auto hidden_words = words_of(hidden);
    hidden_words[1] = 0x00000000;  // its further words then read as "nothing waiting" too
    script(hidden_words);
    EXPECT_FALSE(card_receive_message(window(), card_rx_data_v2, context));
    EXPECT_EQ(log, (std::vector<access>{{false, card_rx_pre, 0},
                                        {false, card_rx_data_v2, hidden_words[0]}}));
    EXPECT_FALSE(card_receive_message(window(), card_rx_data_v2, context));
    EXPECT_TRUE(received.empty());
    // A further word that does not start with 0 is taken for a message of its own.
    words.clear();
    script({0x00000200, 0x0000102A, 0x11111111});
    EXPECT_FALSE(card_receive_message(window(), card_rx_data_v2, context));
    EXPECT_TRUE(card_receive_message(window(), card_rx_data_v2, context));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].sa, 0x10);
}

TEST_F(CardLinkTest, TheReceiverStartsOnceThenPollsEvery2Ms) {
    const auto first = message_of(0x2A, 0x2A, 3);
    const auto second = message_of(0x2A, 0x2A, 9);
    // Nothing on the first poll; then two messages back to back; then nothing and a stop.
    static int polls_left;
    polls_left = 3;
    script({0});
    script(words_of(first));
    script(words_of(second));
    static std::atomic<bool>* stopping;
    stopping = &stop;
    on_sleep = [] {
        if (--polls_left < 0) {
            stopping->store(true);
        }
    };
    run_card_receiver(window(), card_rx_data_v2, context, [this] { return stop.load(); });
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], (access{true, card_rx_init, 0}));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const access& a) { return a.store; }), 1);
    // 1000 ms before RX_INIT, 2 ms before the first poll, 2 ms after each empty poll: the two
    // messages come without a sleep between them.
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{1000, 2, 2, 2}));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].message, first);
    EXPECT_EQ(received[1].message, second);
}

TEST_F(CardLinkTest, TheTraceAfterAMessageDependsOnLevelAndSa) {
    struct expectation {
        std::uint8_t level;
        std::uint8_t sa;
        bool printed;
    };
    const std::vector<expectation> cases = {{3, 0x2A, false}, {4, 0x2A, true},  {4, 0x10, false},
                                            {6, 0x2A, true},  {6, 0x10, false}, {7, 0x10, true}};
    for (const expectation& e : cases) {
        listener.level = e.level;
        auto message = message_of(0x2A, e.sa, 2);
        message[4] = 0x55;
        message[5] = 0x1F;
        script(words_of(message));
        ASSERT_TRUE(card_receive_message(window(), card_rx_data_v2, context));
        const std::string trace =
            "\n SA " + std::to_string(e.sa) + " CMD 85 SubCmd 31 Lenght 2\n";
        EXPECT_EQ(output.take(), e.printed ? trace : "") << int{e.level} << " " << int{e.sa};
    }
}

TEST_F(CardLinkTest, TheLinksReceiverThreadReadsItsWindow) {
    // A plain array stands for the window: the receive register keeps its word, so the
    // message's further word is the same word again.
    static std::array<std::uint32_t, 0x200> registers;
    registers.fill(0xFFFFFFFF);
    registers[card_rx_data_v6] = 0;
    card_unit_link link(registers.data(), card_rx_data_v6);
    static int sleep_count;
    static std::atomic<bool> done;
    sleep_count = 0;
    done = false;
    on_sleep = [] {
        ++sleep_count;
        if (sleep_count == 2) {
            registers[card_rx_data_v6] = 0x0000102A;  // DA 0x2A, SA 0x10, length 0
        } else if (sleep_count > 2) {
            done = true;  // the message has been taken: the test stops the receiver
        }
    };
    after_dispatch = [] { registers[card_rx_data_v6] = 0; };
    now_ms = 4242;
    ASSERT_TRUE(link.start(listener));
    while (!done) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(link.stop(10000));
    EXPECT_EQ(registers[card_rx_init], 0u);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].sa, 0x10);
    EXPECT_EQ(received[0].length, 0u);
    EXPECT_EQ(received[0].message, (std::vector<std::uint8_t>{0x2A, 0x10, 0x00, 0x00, 0x2A}));
    EXPECT_EQ(link.last_heard(), 4242u);
}

}  // namespace
