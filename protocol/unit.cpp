#include "protocol/unit.h"

#include <algorithm>
#include <cstring>

unit::unit(unit_link& unit_link)
    : link(unit_link), requests(start_request_templates()), block_buffer(start_block_buffer()) {
    set_bank_start_values(banks, notes);
}

void apply_answer(unit& u, const answer& a) {
    firmware_operation_record& op = u.op;
    switch (a.kind) {
    case answer_kind::file_failed:
        op.file_failed.raise();
        return;
    case answer_kind::log_block: {
        // The dispatcher has checked that the block fits the log area at its place.
        const std::size_t offset = std::size_t{a.log.seq_no} * a.log.seq_no_size * log_slot_size;
        const std::size_t room = u.log_buffer.size() - std::min(offset, u.log_buffer.size());
        const std::size_t size = std::min(a.data.size(), room);
        if (size != 0) {
            std::memcpy(u.log_buffer.data() + offset, a.data.data(), size);
        }
        u.log_report = a.log;
        op.block_received.raise();
        return;
    }
    case answer_kind::file_block:
        u.received_block.number = a.block_number;
        u.received_block.data = a.data;
        op.block_received.raise();
        return;
    case answer_kind::dl_ack:
        op.chunk_acked.raise();
        return;
    case answer_kind::dl_fail:
        op.chunk_failed.raise();
        return;
    case answer_kind::flash_info: {
        const std::size_t info = std::min(a.info_bytes, a.data.size());
        u.reports.store(a.bank, a.data.data(), info, a.data.data() + info, a.data.size() - info);
        if (a.bank == bank_records - 1) {
            op.flash_info_done.raise();
        }
        return;
    }
    case answer_kind::boot_report:
        op.current_bank = a.bank;
        op.boot_status = a.failed ? boot_status_fail : boot_status_ack;
        return;
    case answer_kind::firmware_info_ack:
        op.fwinfo_acked.raise();
        return;
    case answer_kind::dl_ready:
        op.dl_ready.raise();
        return;
    case answer_kind::eeprom_info:
        op.file_type = a.file_type;
        op.bank = a.channel;
        op.file_size = a.size;
        op.file_crc = a.crc;
        ++u.eeprom_answers;
        return;
    case answer_kind::damaged_frame:
        u.answer_damaged = true;
        return;
    case answer_kind::link_failed:
        if (!u.link_failure) {
            u.link_failure = a.failure;
        }
        return;
    }
}

std::size_t take_answers(unit& u) {
    std::vector<answer> answers = u.inbox.queue().take_all();
    for (const answer& a : answers) {
        apply_answer(u, a);
    }
    return answers.size();
}

void set_verbose_level(unit& u, std::uint8_t level) {
    u.op.verbose_level = level;
    u.inbox.set_trace_level(level);
}
