// A whole exchange through the emulated card, as the program makes it: request symbols stored
// one by one into TX_SYMBOL through the trapped window, the unit's answer read back as words
// from RX_DATA by a second thread polling as the program's receiver does.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "protocol/messages.h"
#include "tools/card_sim/card_bridge.h"
#include "tools/card_sim/card_design.h"
#include "tools/card_sim/card_registers.h"
#include "tools/card_sim/window_trap.h"

using namespace std::chrono_literals;

namespace {

using bytes = std::vector<std::uint8_t>;

const bytes bootinfo_req = {unit_address, pc_address, 0x00, 0x02, cmd_loader,
                            sub_byte(sub_code::BOOTINFO_REQ), 0x00};

class CardExchange : public testing::Test {
protected:
    explicit CardExchange(const sim_unit_options& options = unit_options())
        : design_(reg_rx_data_v6, nullptr), bridge_(design_, options, nullptr) {
        window_ = static_cast<volatile std::uint32_t*>(
            map_trapped_window(card_window_size, design_));
    }
    ~CardExchange() override {
        bridge_.stop();
        unmap_trapped_window(const_cast<std::uint32_t*>(window_), card_window_size);
    }

    static sim_unit_options unit_options() {
        sim_unit_options options;
        options.pacing = false;
        return options;
    }

    void send(const bytes& message) {
        for (const std::uint8_t symbol : encode_card_symbols(message.data(), message.size())) {
            window_[reg_tx_symbol / 4] = symbol;
        }
    }

    // The receiver's way: RX_PRE, then RX_DATA for a first word; 0 in its low byte means
    // nothing waits. Waits up to `limit` for a message.
    bytes receive(std::chrono::milliseconds limit = 2000ms) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            static_cast<void>(window_[reg_rx_pre / 4]);
            const std::uint32_t first = window_[reg_rx_data_v6 / 4];
            if ((first & 0xFF) == 0) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            bytes out;
            const auto put = [&](std::uint32_t w) {
                for (int k = 0; k < 4; ++k) {
                    out.push_back(static_cast<std::uint8_t>(w >> (8 * k)));
                }
            };
            put(first);
            const std::size_t length = (std::size_t{out[2]} << 8) | out[3];
            for (std::size_t k = 0; k < ((length + 3) >> 2) + 1; ++k) {
                put(window_[reg_rx_data_v6 / 4]);
            }
            out.resize(length + 5);
            return out;
        }
        return {};
    }

    card_design design_;
    card_bridge bridge_;
    volatile std::uint32_t* window_ = nullptr;
};

TEST_F(CardExchange, BootinfoRequestGetsItsAnswerAtRxData) {
    ASSERT_NE(window_, nullptr);
    EXPECT_EQ(window_[reg_rx_data_v6 / 4], 0u) << "nothing waits before a request";
    bridge_.start();
    send(bootinfo_req);
    const bytes answer = receive();
    ASSERT_GE(answer.size(), 8u);
    EXPECT_EQ(answer[0], pc_address);
    EXPECT_EQ(answer[1], unit_address);
    EXPECT_EQ(answer[4], cmd_loader);
    EXPECT_EQ(answer[5], sub_byte(sub_code::BOOTINFO_ACK));
    EXPECT_EQ(answer[6], 1) << "the unit runs bank 1";
    EXPECT_EQ(window_[reg_rx_data_v6 / 4], 0u) << "one answer only";
    bridge_.inspect([](const sim_view& view, const bridge_counters& counters) {
        EXPECT_EQ(received_count(view, sub_code::BOOTINFO_REQ), 1u);
        EXPECT_EQ(counters.line_errors, 0u);
        EXPECT_EQ(counters.answers_to_card, 1u);
    });
}

TEST_F(CardExchange, SenderAndReceiverThreadsAtOnce) {
    bridge_.start();
    constexpr int requests = 30;
    std::vector<bytes> answers;
    std::thread receiver([&] {
        for (int k = 0; k < requests; ++k) {
            bytes answer = receive();
            if (answer.empty()) {
                return;
            }
            answers.push_back(std::move(answer));
        }
    });
    for (int k = 0; k < requests; ++k) {
        send(bootinfo_req);
    }
    receiver.join();
    ASSERT_EQ(answers.size(), static_cast<std::size_t>(requests));
    for (const bytes& answer : answers) {
        EXPECT_EQ(answer[5], sub_byte(sub_code::BOOTINFO_ACK));
    }
}

TEST_F(CardExchange, BrokenSymbolsAreDroppedAndTheLinkGoesOn) {
    bridge_.start();
    bytes symbols = encode_card_symbols(bootinfo_req.data(), bootinfo_req.size());
    symbols[6] ^= 0x1F;
    for (const std::uint8_t symbol : symbols) {
        window_[reg_tx_symbol / 4] = symbol;
    }
    send(bootinfo_req);
    const bytes answer = receive();
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[5], sub_byte(sub_code::BOOTINFO_ACK));
    EXPECT_TRUE(receive(100ms).empty()) << "the broken request got no answer";
    bridge_.inspect([](const sim_view& view, const bridge_counters& counters) {
        EXPECT_EQ(counters.line_errors, 1u);
        EXPECT_EQ(received_count(view, sub_code::BOOTINFO_REQ), 1u);
    });
}

TEST_F(CardExchange, SetupWritesAreKeptInOrder) {
    window_[reg_setup_a / 4] = 2;
    window_[reg_setup_b / 4] = 1;
    window_[reg_rx_init / 4] = 0;
    const std::vector<register_write> writes = design_.setup_writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].offset, reg_setup_a);
    EXPECT_EQ(writes[0].value, 2u);
    EXPECT_EQ(writes[1].offset, reg_setup_b);
    EXPECT_EQ(writes[1].value, 1u);
    EXPECT_EQ(writes[2].offset, reg_rx_init);
    EXPECT_EQ(writes[2].value, 0u);
    EXPECT_EQ(window_[reg_design_id / 4], design_id_value);
}

TEST_F(CardExchange, AnswersWaitAtTheBoardsOwnRxData) {
    bridge_.start();
    send(bootinfo_req);
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (design_.words_waiting() == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GT(design_.words_waiting(), 0u);
    EXPECT_EQ(window_[reg_rx_pre / 4], design_.words_waiting());
    // The other boards' RX_DATA is no receive register on this design.
    EXPECT_EQ(window_[reg_rx_data_v2 / 4], 0u);
    EXPECT_GT(design_.words_waiting(), 0u);
}

// The unit corrupts every answer's frame: the card's line receiver drops them, so nothing
// wrong reaches RX_DATA.
class CardExchangeCorrupted : public CardExchange {
protected:
    CardExchangeCorrupted() : CardExchange(corrupting()) {}
    static sim_unit_options corrupting() {
        sim_unit_options options = unit_options();
        options.faults.corrupt_answer_probability = 1.0;
        return options;
    }
};

TEST_F(CardExchangeCorrupted, AnswersWithABadChecksumAreDropped) {
    bridge_.start();
    send(bootinfo_req);
    EXPECT_TRUE(receive(200ms).empty());
    bridge_.inspect([](const sim_view& view, const bridge_counters& counters) {
        EXPECT_EQ(view.answers_corrupted, 1u);
        EXPECT_EQ(counters.bad_answer_frames, 1u);
        EXPECT_EQ(counters.answers_to_card, 0u);
    });
}

}  // namespace
