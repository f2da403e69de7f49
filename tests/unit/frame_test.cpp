#include "link/frame.h"

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/crc.h"
#include "support/capture.h"

namespace {

using bytes_t = std::vector<std::uint8_t>;

const bytes_t request = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
const bytes_t request_frame = {0x10, 0x1E, 0x2A, 0x10, 0x00, 0x02,
                               0x55, 0x1F, 0x00, 0x7F, 0x52, 0x53};

// A receive buffer of the program's size with what has arrived so far.
struct Receiver {
    bytes_t buffer = bytes_t(rx_buffer_size);
    std::size_t fill = 0;
    std::atomic<int> crc_errors{0};

    void arrive(const bytes_t& data) {
        std::copy(data.begin(), data.end(), buffer.begin() + static_cast<std::ptrdiff_t>(fill));
        fill += data.size();
    }
    std::size_t assemble() { return assemble_frame(buffer, fill, crc_errors); }
    bytes_t held() const {
        return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(fill)};
    }
};

bytes_t concat(bytes_t a, const bytes_t& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Reverses the symbol chain: undoes each inversion and maps codes back to nibbles.
bytes_t decode_card_symbols(const bytes_t& symbols) {
    const std::array<std::uint8_t, 16> codes = {0x19, 0x0E, 0x18, 0x14, 0x0C, 0x0D, 0x0B, 0x0A,
                                                0x1C, 0x1D, 0x1B, 0x1A, 0x16, 0x12, 0x17, 0x13};
    bytes_t plain;
    for (std::size_t i = 1; i < symbols.size(); ++i) {
        plain.push_back((symbols[i - 1] & 1) != 0 ? symbols[i] ^ 0x1F : symbols[i]);
    }
    bytes_t message;
    for (std::size_t i = 1; i + 3 < plain.size(); i += 2) {
        const auto hi = std::find(codes.begin(), codes.end(), plain[i]) - codes.begin();
        const auto lo = std::find(codes.begin(), codes.end(), plain[i + 1]) - codes.begin();
        EXPECT_LT(hi, 16);
        EXPECT_LT(lo, 16);
        message.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
    }
    EXPECT_EQ(plain.front(), 0x1E);
    EXPECT_EQ(plain[plain.size() - 2], 0x05);
    EXPECT_EQ(plain.back(), 0x11);
    return message;
}

TEST(FrameSerial, WrapsMessage) {
    EXPECT_EQ(serial_frame(request.data(), request.size()), request_frame);
    const std::array<std::uint8_t, 3> trailer = {0x7F, 0x52, 0x53};
    EXPECT_EQ(serial_trailer(request.data(), request.size()), trailer);
}

TEST(CardSymbols, WorkedExampleAndEmptyMessage) {
    const bytes_t expected = {0x10, 0x1E, 0x18, 0x1B, 0x11, 0x06, 0x19, 0x06, 0x19, 0x07,
                              0x12, 0x0D, 0x11, 0x0C, 0x19, 0x06, 0x16, 0x0A, 0x05, 0x0E};
    EXPECT_EQ(encode_card_symbols(request.data(), request.size()), expected);
    const bytes_t empty = {0x2A, 0x10, 0x00, 0x00, 0x55};
    EXPECT_EQ(encode_card_symbols(empty.data(), empty.size()).size(), 16U);
}

TEST(CardSymbols, RoundTripsEveryByteValue) {
    bytes_t message;
    for (int i = 0; i < 256; ++i) {
        message.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    }
    const bytes_t symbols = encode_card_symbols(message.data(), message.size());
    ASSERT_EQ(symbols.size(), 2 * message.size() + 6);
    for (std::uint8_t s : symbols) {
        EXPECT_LT(s, 0x20);
    }
    const std::uint8_t crc = crc8_card(message.data(), message.size());
    EXPECT_EQ(decode_card_symbols(symbols), concat(message, {crc}));
}

TEST(FrameAssemble, SkipsGarbageBeforeFrame) {
    Receiver rx;
    rx.arrive(concat({0x00, 0x1E, 0x10, 0x10, 0x55, 0x1E}, request_frame));
    OutputCapture out;
    EXPECT_EQ(rx.assemble(), 12U);
    EXPECT_EQ(rx.held(), request_frame);
    EXPECT_EQ(out.text(), "");
}

TEST(FrameAssemble, KeepsLoneSyncByteAndWaitsForMore) {
    Receiver rx;
    rx.arrive({0x33, 0x44, 0x10});
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(rx.held(), bytes_t{0x10});
    // Fewer than 6 bytes, then fewer than length + 10: nothing is delivered or dropped.
    rx.arrive({0x1E, 0x2A, 0x10});
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(rx.fill, 4U);
    rx.arrive({0x00, 0x02, 0x55, 0x1F, 0x00, 0x7F, 0x52});
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(rx.fill, 11U);
    rx.arrive({0x53});
    EXPECT_EQ(rx.assemble(), 12U);
    EXPECT_EQ(rx.held(), request_frame);
}

// A DL_ACK (length 3) whose length became 32771 on the line: no message is that long, so the
// sync pair is dropped at once and the frame behind it is found without waiting.
TEST(FrameAssemble, LengthLongerThanAnyMessageIsDroppedAtOnce) {
    Receiver rx;
    rx.arrive(concat({0x10, 0x1E, 0x2A, 0x10, 0x80, 0x03, 0x55, 0x12, 0x00, 0x00}, request_frame));
    OutputCapture out;
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(out.take(), "\nFalse sync dropped: length 32771 is longer than any message\n");
    EXPECT_EQ(rx.held(), request_frame);
    EXPECT_EQ(rx.assemble(), 12U);
    // The longest message the unit sends is still awaited.
    Receiver longest;
    longest.arrive({0x10, 0x1E, 0x2A, 0x10, 0x14, 0x06});
    EXPECT_EQ(longest.assemble(), 0U);
    EXPECT_EQ(longest.fill, 6U);
}

// A DL_ACK whose length 3 became 259, with the unit's next answer behind it: the frame stops
// growing; once its 256 missing bytes would have come at line rate and the margin has passed,
// its sync pair goes and the real frame inside is found. Growth restarts the wait.
TEST(FrameAssemble, StalledFrameIsDroppedAndTheFrameInsideFound) {
    Receiver rx;
    frame_stall_watch watch;
    const bytes_t damaged = {0x10, 0x1E, 0x2A, 0x10, 0x01, 0x03, 0x55, 0x12, 0x00, 0x00, 0x39, 0x52, 0x53};
    rx.arrive(concat(damaged, request_frame));
    OutputCapture out;
    const std::uint32_t allowance = frame_stall_allowance_ms(259 + 10 - rx.fill);
    EXPECT_EQ(allowance, 22U + frame_stall_margin_ms);
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_FALSE(watch.check(rx.buffer, rx.fill, 1000));
    EXPECT_FALSE(watch.check(rx.buffer, rx.fill, 1000 + allowance));
    rx.arrive({0x00});  // one more byte: the pause starts again
    EXPECT_FALSE(watch.check(rx.buffer, rx.fill, 1000 + allowance + 1));
    EXPECT_FALSE(watch.check(rx.buffer, rx.fill, 1000 + 2 * allowance));
    EXPECT_TRUE(watch.check(rx.buffer, rx.fill, 1000 + 2 * allowance + 2));
    EXPECT_EQ(out.take(), "\nFalse sync dropped: length 259, 26 of 269 bytes came, then nothing "
                          "for " + std::to_string(allowance + 1) + " ms\n");
    EXPECT_EQ(rx.assemble(), 12U);
    EXPECT_EQ(rx.held(), concat(request_frame, {0x00}));
    EXPECT_FALSE(watch.check(rx.buffer, rx.fill, 1000 + 5 * allowance));  // complete: not watched
}

TEST(FrameAssemble, BadChecksumWithTrailerDropsWholeFrame) {
    Receiver rx;
    bytes_t bad = request_frame;
    bad[9] = 0x00;
    rx.arrive(concat(bad, request_frame));
    const int errors = rx.crc_errors.load();
    OutputCapture out;
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(out.take(), "\nCRC error 7F 00 counter " + std::to_string(errors + 1) +
                              " Lenght 2 write_ptr 24 OK \n10 1E 53 10 1E\n");
    EXPECT_EQ(rx.held(), request_frame);
    EXPECT_EQ(rx.assemble(), 12U);
}

TEST(FrameAssemble, BadChecksumWithoutTrailerDropsOneByte) {
    Receiver rx;
    const bytes_t cut = {0x10, 0x1E, 0x2A, 0x10, 0x00, 0x02, 0x55};
    rx.arrive(concat(cut, request_frame));
    const int errors = rx.crc_errors.load();
    OutputCapture out;
    EXPECT_EQ(rx.assemble(), 0U);
    EXPECT_EQ(out.take(), "\nCRC error F5 2A counter " + std::to_string(errors + 1) +
                              " Lenght 2 write_ptr 19 Failed \n10 1E 00 02 55\n");
    EXPECT_EQ(rx.held(), request_frame);
    EXPECT_EQ(rx.assemble(), 12U);
    EXPECT_EQ(rx.crc_errors.load(), errors + 1);
}

TEST(FrameAssemble, TraceBytesPastBufferEndPrintAsZero) {
    bytes_t exact = request_frame;
    exact[9] = 0x01;
    std::size_t fill = exact.size();
    std::atomic<int> crc_errors{0};
    OutputCapture out;
    EXPECT_EQ(assemble_frame(exact, fill, crc_errors), 0U);
    EXPECT_NE(out.text().find(" OK \n10 1E 53 00 00\n"), std::string::npos) << out.text();
    EXPECT_EQ(fill, 0U);
}

TEST(FrameConsume, BackToBackFramesDeliveredInTurn) {
    Receiver rx;
    const bytes_t message = {0x2A, 0x10, 0x00, 0x03, 0x56, 0x01, 0x02, 0x03};
    const bytes_t second = serial_frame(message.data(), message.size());
    rx.arrive(concat(request_frame, second));
    OutputCapture out;
    ASSERT_EQ(rx.assemble(), 12U);
    EXPECT_EQ(rx.held(), concat(request_frame, second));
    consume_frame(rx.buffer, rx.fill, 12);
    EXPECT_EQ(out.take(), "MOVING 13 BYTES \n");
    ASSERT_EQ(rx.assemble(), 13U);
    EXPECT_EQ(rx.held(), second);
    consume_frame(rx.buffer, rx.fill, 13);
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(rx.fill, 0U);
}

}  // namespace
