// The dialogs that set up each operation: which bank or EEPROM channel, which kind of image,
// which file, what comment, which bank to boot, which trace level. They ask and return the
// answers; the session acts on them. A command-line load has its answers already and only has
// its file checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/download_choice.h"
#include "protocol/loader_state.h"

enum class dialog_kind { eeprom, flash };

// How a load dialog ended. The numbers are the redraw request an ended dialog leaves: 1 redraws
// after 3 s, the others at once.
enum class load_result : int {
    go = 0,         // answered: the download may start
    failed = 1,     // no file chosen, or the file does not exist
    cancelled = 2,  // q, or no at the bank-0 question
    declined = -1,  // no at "OK to load this file"
};

struct load_answer {
    load_result result;
    download_choice choice;  // what was answered before the dialog ended
};

// The load dialog, starting from the file type and bank of the unit's loader record (a
// Controller or Charger EEPROM keeps the bank as it is), offering the banks from its first bank
// on and showing its user. A file name of 80 characters or more is refused.
load_answer load_dialog(dialog_kind kind, const firmware_operation_record& loader);

// The file of a command-line load: its name's length checked and its facts taken, nothing
// asked. The choice holds no file type or bank.
load_answer check_load_file(const std::string& file, const std::string& comment);

struct get_answer {
    std::uint8_t file_type;
    std::uint8_t bank;  // bank, or EEPROM channel index
};

// The get dialog, starting from the file type and bank of the unit's loader record; nothing when
// cancelled.
std::optional<get_answer> get_dialog(dialog_kind kind, const firmware_operation_record& loader);

// The bank to boot, confirmed; nothing when cancelled.
std::optional<std::uint8_t> boot_dialog();

// The trace level typed; nothing when cancelled.
std::optional<int> verbose_dialog();
