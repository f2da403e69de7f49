#include "protocol/bank_records.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/byte_order.h"
#include "protocol/unit.h"

namespace {

// Puts a host-order word into wire order (big-endian bytes in memory).
void word_to_wire_order(std::uint32_t& word) {
    std::uint8_t bytes[sizeof word];
    put_be32(bytes, word);
    std::memcpy(&word, bytes, sizeof word);
}

// The inverse of bank_info_to_host_order, so that a report covering part of a record can be laid
// over it in the record's own byte order.
void bank_info_to_wire_order(bank_info& record) {
    for (image_descriptor* descriptor : {&record.fpga, &record.software}) {
        word_to_wire_order(descriptor->flash_address);
        word_to_wire_order(descriptor->crc);
        word_to_wire_order(descriptor->size);
    }
}

}  // namespace

void bank_reports::store(std::size_t bank, const std::uint8_t* info, std::size_t info_bytes,
                         const std::uint8_t* notes, std::size_t notes_bytes) {
    if (bank >= bank_records) {
        return;
    }
    report& r = reports_[bank];
    r.info_bytes = std::min(info_bytes, r.info.size());
    r.notes_bytes = std::min(notes_bytes, r.notes.size());
    if (r.info_bytes != 0) {
        std::memcpy(r.info.data(), info, r.info_bytes);
    }
    if (r.notes_bytes != 0) {
        std::memcpy(r.notes.data(), notes, r.notes_bytes);
    }
    r.arrived = true;
}

void bank_reports::take(bank_info_array& banks, bank_notes_array& notes) {
    for (std::size_t bank = 0; bank < bank_records; ++bank) {
        report& r = reports_[bank];
        if (!r.arrived) {
            continue;
        }
        r.arrived = false;
        bank_info& record = banks[bank];
        bank_info_to_wire_order(record);
        std::memcpy(&record, r.info.data(), r.info_bytes);  // the report's own array: never null
        bank_info_to_host_order(record);
        if (r.notes_bytes != 0) {
            std::memcpy(&notes[bank], r.notes.data(), r.notes_bytes);
            terminate_note_texts(notes[bank]);
        }
        known_[bank] = knowledge::reported;
    }
}

void bank_reports::begin_round() { known_.fill(knowledge::awaiting); }

bool bank_reports::unknown(std::size_t bank) const {
    return bank < bank_records && known_[bank] == knowledge::awaiting;
}

bool bank_reports::reported(std::size_t bank) const {
    return bank < bank_records && known_[bank] == knowledge::reported;
}

void take_bank_reports(unit& u) { u.reports.take(u.banks, u.notes); }

void begin_bank_round(unit& u) {
    u.reports.begin_round();
    u.budgets.bank_records = bank_records_start_budget;
    u.budgets.banks_missing = banks_missing_start_budget;
    u.banks_asked_again = false;
}

bool any_bank_unknown(const unit& u) {
    for (std::size_t bank = 0; bank < bank_records; ++bank) {
        if (u.reports.unknown(bank)) {
            return true;
        }
    }
    return false;
}

bool bank_unknown(const unit& u, std::size_t bank) { return u.reports.unknown(bank); }

bool bank_reported(const unit& u, std::size_t bank) { return u.reports.reported(bank); }
