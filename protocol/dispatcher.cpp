// ExecuteCommand: each answer of the unit is checked against the bytes it carries and the area
// it is stored in, stored whole, and only then announced to the main loop by its event flag.
#include "protocol/dispatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"

namespace {

bool verbose_above(int threshold) {
    return firmware_operation.verbose_level.load(std::memory_order_relaxed) > threshold;
}

// The bytes of one received message: from DA up to its last byte, nothing beyond.
struct received_message {
    const std::uint8_t* bytes;
    std::size_t size;

    std::uint8_t operator[](std::size_t offset) const { return bytes[offset]; }

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

void on_file_failed(const received_message& m) {
    namespace at = file_failed_at;
    if (!m.holds(at::end, "FILE_FAILED")) return;
    out_printf("FILE_FAILED error %d size %d type %d no %d\n", m[at::error],
               static_cast<int>(get_be32(m.bytes + at::size)), m[at::type], m[at::number]);
    firmware_operation.file_failed.raise();
}

void on_message_log_ack(const received_message& m) {
    namespace at = message_log_ack_at;
    if (!m.holds(at::entries, "MESSAGE_LOG_ACK")) return;
    const log_block_report report{m[at::entry_count], m[at::entry_length], m[at::max_entries],
                                  m[at::seq_no], m[at::seq_no_size]};
    const std::size_t block_size = std::size_t{report.seq_no_size} * report.entry_length;
    const std::size_t offset = std::size_t{report.seq_no} * report.seq_no_size * log_slot_size;
    if (offset > log_buffer_size || block_size > log_buffer_size - offset) {
        if (verbose_above(0)) {
            out_printf("Dropped MESSAGE_LOG_ACK: block of %zu bytes at offset %zu does not fit the "
                       "log of %zu bytes\n",
                       block_size, offset, log_buffer_size);
        }
        return;
    }
    if (block_size > m.size - at::entries) {
        if (verbose_above(0)) {
            out_printf("Dropped MESSAGE_LOG_ACK: block of %zu bytes but only %zu bytes carried\n",
                       block_size, m.size - at::entries);
        }
        return;
    }
    if (verbose_above(1)) {
        out_printf("MESSAGE_LOG_ACK seq_no %d seq_no_size %d max %d no of entries %d elenght %d\r",
                   report.seq_no, report.seq_no_size, report.max_entries, report.entry_count,
                   report.entry_length);
    }
    std::memcpy(log_buffer.data() + offset, m.bytes + at::entries, block_size);
    log_report = report;
    firmware_operation.block_received.raise();
}

void on_file_ack(const received_message& m) {
    namespace at = file_ack_at;
    if (!m.holds(at::data, "FILE_ACK")) return;
    const std::uint16_t block_number = get_be16(m.bytes + at::block_number);
    const std::uint16_t data_length = get_be16(m.bytes + at::data_length);
    if (data_length > block_data_capacity) {
        if (verbose_above(0)) {
            out_printf("Dropped FILE_ACK: data length %u does not fit the %zu-byte block buffer\n",
                       unsigned{data_length}, block_data_capacity);
        }
        return;
    }
    if (data_length > m.size - at::data) {
        if (verbose_above(0)) {
            out_printf("Dropped FILE_ACK: data length %u but only %zu bytes carried\n",
                       unsigned{data_length}, m.size - at::data);
        }
        return;
    }
    if (verbose_above(5)) out_printf("FILE_ACK\n ");
    block_buffer.set_chunk_number(block_number);
    block_buffer.set_data_length(data_length);
    std::memcpy(block_buffer.data(), m.bytes + at::data, data_length);
    firmware_operation.block_received.raise();
}

void on_dl_ack(const received_message& m) {
    if (!m.holds(dl_ack_at::p2 + 1, "DL_ACK")) return;
    if (verbose_above(2)) {
        out_printf("DL_ACK P1 %d P2 %d tick: %d\n", m[dl_ack_at::p1], m[dl_ack_at::p2],
                   static_cast<int>(tick_count_ms()));
    }
    firmware_operation.chunk_acked.raise();
}

void on_dl_fail(const received_message& m) {
    if (!m.holds(dl_ack_at::p2 + 1, "DL_FAIL")) return;
    if (verbose_above(1)) out_printf("DL_FAIL P1 %d P2 %d\n", m[dl_ack_at::p1], m[dl_ack_at::p2]);
    firmware_operation.chunk_failed.raise();
}

void on_flash_info(const received_message& m, std::uint16_t length, std::uint8_t sub) {
    namespace at = flash_info_at;
    const std::size_t bank = flash_info_bank(sub);
    if (length < at::min_length || length > at::max_length) {
        if (verbose_above(0)) {
            out_printf("Dropped FLASH_INFO of bank %zu: length %u does not fit (%u to %u)\n", bank,
                       unsigned{length}, unsigned{at::min_length}, unsigned{at::max_length});
        }
        return;
    }
    if (verbose_above(1)) {
        out_printf("FLASH_INFO %d moving no %d byte sizeof bank_info %d\n", sub, length,
                   static_cast<int>(sizeof(bank_info)));
    }
    const std::size_t info_bytes =
        std::min<std::size_t>(std::size_t{length} - at::min_length, sizeof(bank_info));
    const std::size_t notes_bytes =
        length > at::bank_info_length ? std::size_t{length} - at::bank_info_length : 0;
    store_bank_report(bank, m.bytes + at::bank_info, info_bytes,
                      notes_bytes != 0 ? m.bytes + at::bank_notes : nullptr, notes_bytes);
    if (bank == bank_records - 1) firmware_operation.flash_info_done.raise();
}

// BOOTINFO_ACK and BOOTINFO_FAIL. boot_status is what the main loop polls, so it is stored last.
void on_bootinfo(const received_message& m, std::uint8_t status, const char* name) {
    if (!m.holds(bootinfo_at::bank + 1, name)) return;
    const std::uint8_t bank = m[bootinfo_at::bank];
    if (verbose_above(1)) {
        if (status == boot_status_ack) {
            out_printf("BOOTINFO_ACK from bank %d\n", bank);
        } else {
            out_printf("BOOTINFO_FAIL bank %d\n", bank);
        }
    }
    firmware_operation.current_bank.store(bank, std::memory_order_release);
    firmware_operation.boot_status.store(status, std::memory_order_release);
}

void on_eeprom_ack(const received_message& m) {
    namespace at = eeprom_ack_at;
    if (!m.holds(at::end, "EEPROM_ACK")) return;
    const std::uint8_t type = m[at::file_type];
    const std::uint8_t channel = m[at::channel];
    const std::uint32_t size = get_be32(m.bytes + at::file_size);
    const std::uint32_t crc = get_be32(m.bytes + at::file_crc);
    if (verbose_above(5)) {
        out_printf("EEPROM_ACK size %d crc %x type %d channel %d\n", static_cast<int>(size), crc,
                   type, channel);
    }
    firmware_operation.file_type.store(type, std::memory_order_release);
    firmware_operation.bank.store(channel, std::memory_order_release);
    firmware_operation.file_size.store(size, std::memory_order_release);
    firmware_operation.file_crc.store(crc, std::memory_order_release);
}

}  // namespace

void ExecuteCommand(const std::uint8_t* message, std::uint16_t length, std::uint8_t SA,
                    std::uint8_t CMD, std::uint8_t SUB) {
    if (SA != unit_address || CMD != cmd_loader) return;
    if (verbose_above(7)) out_printf(" ExecuteCommand: SA CMD %02X SUBCMD %02X\n ", CMD, SUB);

    // A message of length 0 ends before SUB: what the receiver passed as SUB is not its own.
    if (length == 0) {
        if (verbose_above(0)) out_printf("Dropped message of length 0: it carries no SUBCMD\n");
        return;
    }
    const received_message m{message, message_size(length)};
    if (is_flash_info(SUB)) {
        on_flash_info(m, length, SUB);
        return;
    }
    switch (static_cast<sub_code>(SUB)) {
    case sub_code::FILE_FAILED:
        on_file_failed(m);
        return;
    case sub_code::MESSAGE_LOG_ACK:
        on_message_log_ack(m);
        return;
    case sub_code::FILE_ACK:
        on_file_ack(m);
        return;
    case sub_code::DL_ACK:
        on_dl_ack(m);
        return;
    case sub_code::DL_FAIL:
        on_dl_fail(m);
        return;
    case sub_code::BOOTINFO_ACK:
        on_bootinfo(m, boot_status_ack, "BOOTINFO_ACK");
        return;
    case sub_code::BOOTINFO_FAIL:
        on_bootinfo(m, boot_status_fail, "BOOTINFO_FAIL");
        return;
    case sub_code::FIRMWARE_INFO_ACK:
        firmware_operation.fwinfo_acked.raise();
        return;
    case sub_code::DL_READY:
        firmware_operation.dl_ready.raise();
        return;
    case sub_code::EEPROM_ACK:
        on_eeprom_ack(m);
        return;
    default:
        if (verbose_above(0)) out_printf(" UNKNOWN CMD %02X SUBCMD %02X\n ", cmd_loader, SUB);
        return;
    }
}
