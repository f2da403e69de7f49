#include "link/crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace {

const std::uint8_t* bytes(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(CrcCard, KnownValuesAndTableEntries) {
    EXPECT_EQ(crc8_card(bytes("abc"), 3), 0xFB);
    const std::uint8_t request[] = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    EXPECT_EQ(crc8_card(request, sizeof request), 0xC7);
    // From a zero register one byte yields its own table entry.
    const std::uint8_t one = 0x01;
    const std::uint8_t top = 0x80;
    EXPECT_EQ(crc8_card(&one, 1), 0x93);
    EXPECT_EQ(crc8_card(&top, 1), 0x5C);
    EXPECT_EQ(crc8_card(nullptr, 0), 0x00);
}

TEST(CrcSerial, KnownValues) {
    EXPECT_EQ(crc8_serial(bytes("abc"), 3), 0x89);
    const std::uint8_t request[] = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    EXPECT_EQ(crc8_serial(request, sizeof request), 0x7F);
    EXPECT_EQ(crc8_serial(nullptr, 0), 0x00);
}

TEST(CrcSerial, OnlyLowNibblesCount) {
    const std::uint8_t a[] = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x1F, 0x00};
    const std::uint8_t upper_changed[] = {0xFA, 0x00, 0x70, 0x92, 0x05, 0xEF, 0x30};
    EXPECT_EQ(crc8_serial(a, sizeof a), crc8_serial(upper_changed, sizeof upper_changed));
    std::uint8_t lower_changed[sizeof a];
    std::copy(std::begin(a), std::end(a), lower_changed);
    lower_changed[3] ^= 0x01;
    EXPECT_NE(crc8_serial(a, sizeof a), crc8_serial(lower_changed, sizeof lower_changed));
}

TEST(CrcFile, StandardCheckValue) {
    crc32_file_init();
    EXPECT_EQ(crc32_file(bytes("123456789"), 9, 0xFFFFFFFFU), 0xCBF43926U);
    EXPECT_EQ(crc32_file(nullptr, 0, 0xFFFFFFFFU), 0x00000000U);
    EXPECT_EQ(crc32_file(bytes("a"), 1, 0xFFFFFFFFU), 0xE8B7BE43U);
}

TEST(CrcFile, ChainsOverParts) {
    const std::string_view text = "The quick brown fox jumps over the lazy dog";
    const std::uint32_t whole = crc32_file(bytes(text), text.size(), 0xFFFFFFFFU);
    EXPECT_EQ(whole, 0x414FA339U);
    for (std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{17}, text.size()}) {
        const std::uint32_t first = crc32_file(bytes(text), split, 0xFFFFFFFFU);
        EXPECT_EQ(crc32_file(bytes(text) + split, text.size() - split, ~first), whole)
            << "split at " << split;
    }
}

}  // namespace
