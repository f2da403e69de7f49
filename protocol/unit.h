// One unit as the loader knows it: everything about it in one object, handed to every step of
// the loader, as a device context is in the serial tools of this field. Its link and the
// inbox the link's receiver hands answers to; the loader record with its texts and flags; the
// bank table and the log; the request templates and the transfer buffers; the retry budgets
// and the keep-alive; the download's image, the upload's running CRC-32 and read-back; the
// output file being written and the files written; and the outcome of its operations. Main
// thread only, except the inbox, whose queue the receiver thread fills.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "files/output_files.h"
#include "files/written_files.h"
#include "link/unit_link.h"
#include "platform/result.h"
#include "protocol/answers.h"
#include "protocol/bank_records.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/upload.h"
#include "protocol/waiting.h"

// A command-line load that first asks what an EEPROM holds (+skip_same): what it asked for and
// when, and how many EEPROM_ACKs had come before.
struct eeprom_probe {
    bool asked = false;
    std::uint8_t file_type = 0;
    std::uint8_t channel = 0;
    std::uint32_t asked_tick = 0;
    std::uint32_t answers_before = 0;
};

struct unit {
    explicit unit(unit_link& unit_link);
    unit(const unit&) = delete;
    unit& operator=(const unit&) = delete;

    unit_link& link;
    answer_inbox inbox;
    std::optional<result> link_failure;  // the first failure of the link, once seen
    // A broken frame arrived since the last request: its answer is lost, and a transfer asks
    // again without waiting out its time-out.
    bool answer_damaged = false;

    firmware_operation_record op;
    bank_info_array banks{};
    bank_notes_array notes{};
    bank_reports reports;
    // The table was asked for again because some bank's record did not come: it is complete
    // once every bank is known, even if bank 3's record does not come again.
    bool banks_asked_again = false;
    log_area log_buffer{};
    log_block_report log_report{};  // what the last block of the log said

    request_templates requests;
    dl_data_buffer block_buffer;  // the DL_DATA going out
    file_block received_block;    // the last FILE_ACK taken in

    std::uint32_t eeprom_answers = 0;  // EEPROM_ACKs taken in so far
    eeprom_probe probe;

    retry_budgets budgets;
    silence_watch silence;

    std::vector<std::uint8_t> image;  // the download's file, read whole
    bool download_completed = false;  // the last download had every chunk acknowledged
    chunk_pace chunks;                // how the answers of the download under way come
    upload_state upload;
    output_writer output;
    written_file_list written;
    run_outcome outcome;
};

// Takes every answer the receiver has handed in and applies it: payloads stored, flags raised.
// A link failure among them is kept in link_failure. Returns how many were applied.
std::size_t take_answers(unit& u);

// Applies one answer to the unit's state.
void apply_answer(unit& u, const answer& a);

// The trace level of the loader and of the link's receiver.
void set_verbose_level(unit& u, std::uint8_t level);
