// decode_answer: each answer of the unit is checked against the bytes it carries and the area it
// will be stored in, and taken whole into a value.
#include "protocol/dispatcher.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"

namespace {

// The bytes of one received message: from DA up to its last byte, nothing beyond; and the
// trace level it is decoded at.
struct received_message {
    const std::uint8_t* bytes;
    std::size_t size;
    int trace_level;

    std::uint8_t operator[](std::size_t offset) const { return bytes[offset]; }

    bool verbose_above(int threshold) const { return trace_level > threshold; }

    // True when the message reaches at least up to byte end - 1; otherwise traces why the
    // message named name is dropped.
    bool holds(std::size_t end, const char* name) const {
        if (size >= end) return true;
        if (verbose_above(0)) {
            out_printf("Dropped %s: %zu bytes are too short for its parameters (%zu needed)\n", name,
                       size, end);
        }
        return false;
    }
};

using decoded = std::optional<answer>;

answer of_kind(answer_kind kind) {
    answer a;
    a.kind = kind;
    return a;
}

decoded on_file_failed(const received_message& m) {
    namespace at = file_failed_at;
    if (!m.holds(at::end, "FILE_FAILED")) return std::nullopt;
    out_printf("FILE_FAILED error %d size %d type %d no %d\n", m[at::error],
               static_cast<int>(get_be32(m.bytes + at::size)), m[at::type], m[at::number]);
    return of_kind(answer_kind::file_failed);
}

decoded on_message_log_ack(const received_message& m) {
    namespace at = message_log_ack_at;
    if (!m.holds(at::entries, "MESSAGE_LOG_ACK")) return std::nullopt;
    const log_block_report report{m[at::entry_count], m[at::entry_length], m[at::max_entries],
                                  m[at::seq_no], m[at::seq_no_size]};
    const std::size_t block_size = std::size_t{report.seq_no_size} * report.entry_length;
    const std::size_t offset = std::size_t{report.seq_no} * report.seq_no_size * log_slot_size;
    if (offset > log_buffer_size || block_size > log_buffer_size - offset) {
        if (m.verbose_above(0)) {
            out_printf("Dropped MESSAGE_LOG_ACK: block of %zu bytes at offset %zu does not fit the "
                       "log of %zu bytes\n",
                       block_size, offset, log_buffer_size);
        }
        return std::nullopt;
    }
    if (block_size > m.size - at::entries) {
        if (m.verbose_above(0)) {
            out_printf("Dropped MESSAGE_LOG_ACK: block of %zu bytes but only %zu bytes carried\n",
                       block_size, m.size - at::entries);
        }
        return std::nullopt;
    }
    if (m.verbose_above(1)) {
        out_printf("MESSAGE_LOG_ACK seq_no %d seq_no_size %d max %d no of entries %d elenght %d\r",
                   report.seq_no, report.seq_no_size, report.max_entries, report.entry_count,
                   report.entry_length);
    }
    answer a = of_kind(answer_kind::log_block);
    a.log = report;
    a.data.assign(m.bytes + at::entries, m.bytes + at::entries + block_size);
    return a;
}

decoded on_file_ack(const received_message& m) {
    namespace at = file_ack_at;
    if (!m.holds(at::data, "FILE_ACK")) return std::nullopt;
    const std::uint16_t block_number = get_be16(m.bytes + at::block_number);
    const std::uint16_t data_length = get_be16(m.bytes + at::data_length);
    if (data_length > block_data_capacity) {
        if (m.verbose_above(0)) {
            out_printf("Dropped FILE_ACK: data length %u does not fit the %zu-byte block buffer\n",
                       unsigned{data_length}, block_data_capacity);
        }
        return std::nullopt;
    }
    if (data_length > m.size - at::data) {
        if (m.verbose_above(0)) {
            out_printf("Dropped FILE_ACK: data length %u but only %zu bytes carried\n",
                       unsigned{data_length}, m.size - at::data);
        }
        return std::nullopt;
    }
    if (m.verbose_above(5)) out_printf("FILE_ACK\n ");
    answer a = of_kind(answer_kind::file_block);
    a.block_number = block_number;
    a.data.assign(m.bytes + at::data, m.bytes + at::data + data_length);
    return a;
}

decoded on_dl_ack(const received_message& m) {
    if (!m.holds(dl_ack_at::p2 + 1, "DL_ACK")) return std::nullopt;
    if (m.verbose_above(2)) {
        out_printf("DL_ACK P1 %d P2 %d tick: %d\n", m[dl_ack_at::p1], m[dl_ack_at::p2],
                   static_cast<int>(tick_count_ms()));
    }
    return of_kind(answer_kind::dl_ack);
}

decoded on_dl_fail(const received_message& m) {
    if (!m.holds(dl_ack_at::p2 + 1, "DL_FAIL")) return std::nullopt;
    if (m.verbose_above(1)) {
        out_printf("DL_FAIL P1 %d P2 %d\n", m[dl_ack_at::p1], m[dl_ack_at::p2]);
    }
    return of_kind(answer_kind::dl_fail);
}

decoded on_flash_info(const received_message& m, std::uint16_t length, std::uint8_t sub) {
    namespace at = flash_info_at;
    const std::size_t bank = flash_info_bank(sub);
    if (length < at::min_length || length > at::max_length) {
        if (m.verbose_above(0)) {
            out_printf("Dropped FLASH_INFO of bank %zu: length %u does not fit (%u to %u)\n", bank,
                       unsigned{length}, unsigned{at::min_length}, unsigned{at::max_length});
        }
        return std::nullopt;
    }
    if (m.verbose_above(1)) {
        out_printf("FLASH_INFO %d moving no %d byte sizeof bank_info %d\n", sub, length,
                   static_cast<int>(sizeof(bank_info)));
    }
    const std::size_t info_bytes =
        std::min<std::size_t>(std::size_t{length} - at::min_length, sizeof(bank_info));
    const std::size_t notes_bytes =
        length > at::bank_info_length ? std::size_t{length} - at::bank_info_length : 0;
    answer a = of_kind(answer_kind::flash_info);
    a.bank = static_cast<std::uint8_t>(bank);
    a.info_bytes = info_bytes;
    a.data.assign(m.bytes + at::bank_info, m.bytes + at::bank_info + info_bytes);
    if (notes_bytes != 0) {
        const std::uint8_t* notes = m.bytes + at::bank_notes;
        a.data.insert(a.data.end(), notes, notes + notes_bytes);
    }
    return a;
}

// BOOTINFO_ACK and BOOTINFO_FAIL.
decoded on_bootinfo(const received_message& m, bool failed, const char* name) {
    if (!m.holds(bootinfo_at::bank + 1, name)) return std::nullopt;
    const std::uint8_t bank = m[bootinfo_at::bank];
    if (m.verbose_above(1)) {
        if (!failed) {
            out_printf("BOOTINFO_ACK from bank %d\n", bank);
        } else {
            out_printf("BOOTINFO_FAIL bank %d\n", bank);
        }
    }
    answer a = of_kind(answer_kind::boot_report);
    a.bank = bank;
    a.failed = failed;
    return a;
}

decoded on_eeprom_ack(const received_message& m) {
    namespace at = eeprom_ack_at;
    if (!m.holds(at::end, "EEPROM_ACK")) return std::nullopt;
    answer a = of_kind(answer_kind::eeprom_info);
    a.file_type = m[at::file_type];
    a.channel = m[at::channel];
    a.size = get_be32(m.bytes + at::file_size);
    a.crc = get_be32(m.bytes + at::file_crc);
    if (m.verbose_above(5)) {
        out_printf("EEPROM_ACK size %d crc %x type %d channel %d\n", static_cast<int>(a.size),
                   a.crc, a.file_type, a.channel);
    }
    return a;
}

}  // namespace

std::optional<answer> decode_answer(const std::uint8_t* message, std::uint16_t length,
                                    std::uint8_t SA, std::uint8_t CMD, std::uint8_t SUB,
                                    int trace_level) {
    if (SA != unit_address || CMD != cmd_loader) return std::nullopt;
    if (trace_level > 7) out_printf(" ExecuteCommand: SA CMD %02X SUBCMD %02X\n ", CMD, SUB);

    // A message of length 0 ends before SUB: what the receiver passed as SUB is not its own.
    if (length == 0) {
        if (trace_level > 0) out_printf("Dropped message of length 0: it carries no SUBCMD\n");
        return std::nullopt;
    }
    const received_message m{message, message_size(length), trace_level};
    if (is_flash_info(SUB)) {
        return on_flash_info(m, length, SUB);
    }
    switch (static_cast<sub_code>(SUB)) {
    case sub_code::FILE_FAILED:
        return on_file_failed(m);
    case sub_code::MESSAGE_LOG_ACK:
        return on_message_log_ack(m);
    case sub_code::FILE_ACK:
        return on_file_ack(m);
    case sub_code::DL_ACK:
        return on_dl_ack(m);
    case sub_code::DL_FAIL:
        return on_dl_fail(m);
    case sub_code::BOOTINFO_ACK:
        return on_bootinfo(m, false, "BOOTINFO_ACK");
    case sub_code::BOOTINFO_FAIL:
        return on_bootinfo(m, true, "BOOTINFO_FAIL");
    case sub_code::FIRMWARE_INFO_ACK:
        return of_kind(answer_kind::firmware_info_ack);
    case sub_code::DL_READY:
        return of_kind(answer_kind::dl_ready);
    case sub_code::EEPROM_ACK:
        return on_eeprom_ack(m);
    default:
        if (trace_level > 0) out_printf(" UNKNOWN CMD %02X SUBCMD %02X\n ", cmd_loader, SUB);
        return std::nullopt;
    }
}
