// The card receiver (card_receive_message) over a window whose receive register hands out words
// taken from the input (0 once it runs out), polled until it reports nothing waiting. Each
// message must reach the listener as the bytes of its words, first byte lowest, with the length,
// SA, CMD and SUB of those bytes; with a unit's inbox as listener (the dispatcher, the queue and
// the answers applied), nothing may read or write out of bounds or hit undefined behaviour.
//
// Input: a choice byte (bit 0: a unit's inbox, bit 1: the receive register of board type 6,
// bits 2-7: verbose level), then the words, four bytes each, least significant byte first.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "link/card_receiver.h"
#include "link/card_window.h"
#include "link/frame.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "support/fake_link.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_card: %s\n", what);
    std::abort();
}

// The words the register handed out so far, as bytes.
std::vector<std::uint8_t> handed_out;

struct input_window {
    fuzz_input* input;
    std::size_t rx_data;

    std::uint32_t load(std::size_t index) const {
        if (index != rx_data) return 0;
        const std::uint32_t b0 = input->byte();
        const std::uint32_t b1 = input->byte();
        const std::uint32_t b2 = input->byte();
        const std::uint32_t b3 = input->byte();
        for (std::uint32_t b : {b0, b1, b2, b3}) handed_out.push_back(static_cast<std::uint8_t>(b));
        return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
    }
    void store(std::size_t, std::uint32_t) const {}
};

// Checks each message against the words it came in.
struct checking_listener final : link_listener {
    void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                    std::uint8_t cmd, std::uint8_t sub) override {
        const std::size_t size = std::size_t{length} + 5;
        if (handed_out.size() < size) fail("message longer than the words read for it");
        for (std::size_t k = 0; k < size; ++k) {
            if (message[k] != handed_out[k]) fail("message differs from its words");
        }
        if (length != ((handed_out[2] << 8) | handed_out[3]) || sa != handed_out[1] ||
            cmd != handed_out[4] || sub != handed_out[5]) {
            fail("length, SA, CMD or SUB not those of the message");
        }
    }
    void on_failure(const result&) override { fail("the card link does not fail"); }
    int trace_level() const override { return level; }
    int level = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    fuzz_input input(data, size);
    const std::uint8_t choice = input.byte();
    const bool into_unit = (choice & 1U) != 0;
    const auto level = static_cast<std::uint8_t>(choice >> 2);
    captured_link link;
    unit u(link);
    set_verbose_level(u, level);
    checking_listener checker;
    checker.level = level;
    std::vector<std::uint8_t> buffer(rx_buffer_size);
    std::atomic<std::uint32_t> last_heard{0};
    card_receiver_context context{buffer, into_unit ? static_cast<link_listener&>(u.inbox)
                                                    : static_cast<link_listener&>(checker),
                                  last_heard};
    const input_window window{&input, (choice & 2U) != 0 ? card_rx_data_v6 : card_rx_data_v2};

    for (;;) {
        handed_out.clear();
        if (!card_receive_message(window, window.rx_data, context)) break;
        if (into_unit) {
            take_answers(u);
            take_bank_reports(u);
        }
    }
    return 0;
}
