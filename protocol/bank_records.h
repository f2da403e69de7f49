// What the unit reports about its flash banks. Each FLASH_INFO answer keeps its bank's record as
// it came off the wire; the loop takes the records into the bank table in host order, once
// each, whichever of them arrived. A bank asked for in the latest round whose record never came
// is unknown: its old numbers are not to be trusted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/loader_state.h"

struct unit;

// The records of one unit's banks between their answer and the bank table, and what is known
// of each bank.
class bank_reports {
public:
    // Keeps what a FLASH_INFO for `bank` (0-3) carried, `info_bytes` (at most 192) of its
    // bank_info and `notes_bytes` (at most 216) of its bank_notes.
    void store(std::size_t bank, const std::uint8_t* info, std::size_t info_bytes,
               const std::uint8_t* notes, std::size_t notes_bytes);

    // Takes every record that arrived since the last call into the tables, converted to host
    // order. A record that covers part of a bank_info replaces that part only.
    void take(bank_info_array& banks, bank_notes_array& notes);

    // A round of FLASH_INFO starts: every bank is unknown until its record arrives.
    void begin_round();

    // True when the latest round asked for the bank and its record has not arrived.
    bool unknown(std::size_t bank) const;

    // True when the bank's record came from the unit (in the latest round or an earlier one
    // that the latest has not replaced); false for start values and unknown banks.
    bool reported(std::size_t bank) const;

private:
    struct report {
        std::array<std::uint8_t, sizeof(bank_info)> info{};
        std::array<std::uint8_t, sizeof(bank_notes)> notes{};
        std::size_t info_bytes = 0;
        std::size_t notes_bytes = 0;
        bool arrived = false;
    };
    enum class knowledge : std::uint8_t { start_values, awaiting, reported };

    std::array<report, bank_records> reports_{};
    std::array<knowledge, bank_records> known_{};
};

// The unit's records that arrived, taken into its bank table.
void take_bank_reports(unit& u);
// The unit's bank table: a round of FLASH_INFO starts, with the retry budgets of a reading of the
// table given back.
void begin_bank_round(unit& u);
// True while a bank the latest round asked for has not been reported.
bool any_bank_unknown(const unit& u);
bool bank_unknown(const unit& u, std::size_t bank);
bool bank_reported(const unit& u, std::size_t bank);
