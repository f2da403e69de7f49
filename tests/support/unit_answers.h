// Answers of the unit in loader tests: each one framed as the receiver frames it, decoded by the
// dispatcher and applied to the unit, as if it had just come in on the link and the loop had
// taken it from the queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/byte_order.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/unit.h"

// What the unit puts after the end of a file in a block sent full.
inline constexpr std::uint8_t unit_block_filler = 0xEE;

inline void unit_answers(unit& u, sub_code sub, const std::vector<std::uint8_t>& params = {}) {
    std::vector<std::uint8_t> m = {pc_address, unit_address, 0, 0, cmd_loader, sub_byte(sub)};
    m.insert(m.end(), params.begin(), params.end());
    const auto length = static_cast<std::uint16_t>(m.size() - head_overhead);
    put_be16(m.data() + head_length, length);
    if (const std::optional<answer> a = decode_answer(m.data(), length, unit_address, cmd_loader,
                                                      sub_byte(sub), u.op.verbose_level)) {
        apply_answer(u, *a);
    }
}

inline void unit_reports_boot(unit& u, std::uint8_t bank) {
    unit_answers(u, sub_code::BOOTINFO_ACK, {bank});
}

// FILE_ACK with a block number, a data length and the data carried.
inline void unit_sends_file_ack(unit& u, std::uint16_t number, std::uint16_t length,
                                const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> params(4);
    put_be16(params.data(), number);
    put_be16(params.data() + 2, length);
    params.insert(params.end(), data.begin(), data.end());
    unit_answers(u, sub_code::FILE_ACK, params);
}

// Block `number` of a stored file, sent full (512 bytes) as the unit sends every block: bytes
// past the end of the file are filler that must not reach the output file.
inline void unit_sends_block(unit& u, std::uint16_t number, const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> data(512, unit_block_filler);
    for (std::size_t k = 0; k < 512 && number * 512u + k < file.size(); ++k) {
        data[k] = file[number * 512u + k];
    }
    unit_sends_file_ack(u, number, 512, data);
}

// EEPROM_ACK: type, channel index, size and CRC-32 of the stored EEPROM image.
inline void unit_describes_eeprom(unit& u, std::uint8_t type, std::uint8_t channel,
                                  std::uint32_t size, std::uint32_t crc) {
    std::vector<std::uint8_t> params = {type, channel, 0, 0, 0, 0, 0, 0, 0, 0};
    put_be32(params.data() + 2, size);
    put_be32(params.data() + 6, crc);
    unit_answers(u, sub_code::EEPROM_ACK, params);
}

// Block `number` of a log of `entries` (80 bytes each), `per_block` entries to a block.
inline void unit_sends_log_block(unit& u, std::uint8_t number, std::uint8_t count,
                                 std::uint8_t capacity, std::uint8_t per_block,
                                 const std::vector<std::uint8_t>& entries) {
    std::vector<std::uint8_t> params = {count, 80, capacity, number, per_block};
    const std::size_t from = std::size_t{number} * per_block * 80;
    for (std::size_t k = 0; k < std::size_t{per_block} * 80; ++k) {
        params.push_back(from + k < entries.size() ? entries[from + k] : 0);
    }
    unit_answers(u, sub_code::MESSAGE_LOG_ACK, params);
}

// The FLASH_INFO of all four banks, valid images whose flash addresses are known; bank 2's
// FPGA image has the given size and CRC.
inline void unit_reports_flash(unit& u, std::uint32_t fpga2_size = 0, std::uint32_t fpga2_crc = 0) {
    for (std::uint8_t bank = 0; bank < 4; ++bank) {
        std::vector<std::uint8_t> params(2 + sizeof(bank_info), 0);
        std::uint8_t* record = params.data() + 2;
        put_be32(record + 4, 0x86000000u + bank * 0x800000u);
        put_be32(record + 96 + 4, 0x86200000u + bank * 0x800000u);
        if (bank == 2) {
            put_be32(record + 60, fpga2_crc);
            put_be32(record + 64, fpga2_size);
        }
        unit_answers(u, static_cast<sub_code>(sub_byte(sub_code::FLASH_INFO) + bank), params);
    }
}
