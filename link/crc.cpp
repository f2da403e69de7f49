#include "link/crc.h"

#include <array>

namespace {

constexpr std::uint8_t crc8_polynomial = 0x93;  // x^8 + x^7 + x^4 + x + 1
constexpr std::uint32_t crc32_polynomial = 0xEDB88320U;  // IEEE 802.3, reflected

using crc8_table_t = std::array<std::uint8_t, 256>;
using crc32_table_t = std::array<std::uint32_t, 256>;

// One step of the MSB-first CRC-8 register when the bit shifted out is combined with `in`.
std::uint8_t crc8_step(std::uint8_t crc, bool in) {
    const bool feedback = ((crc & 0x80U) != 0) != in;
    crc = static_cast<std::uint8_t>(crc << 1);
    return feedback ? static_cast<std::uint8_t>(crc ^ crc8_polynomial) : crc;
}

// Function-local statics are initialised exactly once, even when two threads get here first
// at the same time, so neither table needs a lock.
const crc8_table_t& crc8_table() {
    static const crc8_table_t table = [] {
        crc8_table_t t{};
        for (unsigned i = 0; i < t.size(); ++i) {
            auto v = static_cast<std::uint8_t>(i);
            for (int bit = 0; bit < 8; ++bit) {
                v = crc8_step(v, false);
            }
            t[i] = v;
        }
        return t;
    }();
    return table;
}

const crc32_table_t& crc32_table() {
    static const crc32_table_t table = [] {
        crc32_table_t t{};
        for (std::uint32_t i = 0; i < t.size(); ++i) {
            std::uint32_t v = i;
            for (int bit = 0; bit < 8; ++bit) {
                v = (v & 1U) != 0 ? (v >> 1) ^ crc32_polynomial : v >> 1;
            }
            t[i] = v;
        }
        return t;
    }();
    return table;
}

}  // namespace

std::uint8_t crc8_card(const std::uint8_t* data, std::size_t count) {
    const crc8_table_t& table = crc8_table();
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = table[crc ^ data[i]];
    }
    return crc;
}

std::uint8_t crc8_serial(const std::uint8_t* data, std::size_t count) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (int bit = 3; bit >= 0; --bit) {
            crc = crc8_step(crc, ((data[i] >> bit) & 1U) != 0);
        }
    }
    return crc;
}

void crc32_file_init() {
    static_cast<void>(crc32_table());
}

std::uint32_t crc32_file(const std::uint8_t* data, std::size_t count, std::uint32_t initial) {
    const crc32_table_t& table = crc32_table();
    std::uint32_t crc = initial;
    for (std::size_t i = 0; i < count; ++i) {
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFU];
    }
    return ~crc;
}
