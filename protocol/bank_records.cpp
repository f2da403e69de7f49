#include "protocol/bank_records.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/byte_order.h"
#include "protocol/loader_state.h"

namespace {

// One bank's FLASH_INFO as received: written by the receiver thread before it raises the bank's
// flag, read by the main loop after it has seen the flag.
struct bank_report {
    std::array<std::uint8_t, sizeof(bank_info)> info{};
    std::array<std::uint8_t, sizeof(bank_notes)> notes{};
    std::size_t info_bytes = 0;
    std::size_t notes_bytes = 0;
};

std::array<bank_report, bank_records> reports;
std::array<event_flag, bank_records> arrived;

// Main loop only.
enum class knowledge : std::uint8_t { start_values, awaiting, reported };
std::array<knowledge, bank_records> known{};

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

void apply(std::size_t bank, const bank_report& report) {
    bank_info& record = banks[bank];
    bank_info_to_wire_order(record);
    std::memcpy(&record, report.info.data(), report.info_bytes);
    bank_info_to_host_order(record);
    if (report.notes_bytes != 0) {
        std::memcpy(&notes[bank], report.notes.data(), report.notes_bytes);
        terminate_note_texts(notes[bank]);
    }
    known[bank] = knowledge::reported;
}

}  // namespace

void store_bank_report(std::size_t bank, const std::uint8_t* info, std::size_t info_bytes,
                       const std::uint8_t* notes_data, std::size_t notes_bytes) {
    if (bank >= bank_records) {
        return;
    }
    bank_report& report = reports[bank];
    report.info_bytes = std::min(info_bytes, report.info.size());
    report.notes_bytes = std::min(notes_bytes, report.notes.size());
    std::memcpy(report.info.data(), info, report.info_bytes);
    if (report.notes_bytes != 0) {
        std::memcpy(report.notes.data(), notes_data, report.notes_bytes);
    }
    arrived[bank].raise();
}

void take_bank_reports() {
    for (std::size_t bank = 0; bank < bank_records; ++bank) {
        if (!arrived[bank].test()) {
            continue;
        }
        // Cleared before the copy: a report that arrives meanwhile raises the flag again and is
        // taken whole on the next call.
        arrived[bank].clear();
        const bank_report report = reports[bank];
        apply(bank, report);
    }
}

void begin_bank_round() { known.fill(knowledge::awaiting); }

bool bank_unknown(std::size_t bank) {
    return bank < bank_records && known[bank] == knowledge::awaiting;
}

bool bank_reported(std::size_t bank) {
    return bank < bank_records && known[bank] == knowledge::reported;
}

void reset_bank_reports() {
    for (event_flag& flag : arrived) flag.clear();
    known.fill(knowledge::start_values);
}
