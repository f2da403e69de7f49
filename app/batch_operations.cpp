#include "app/batch_operations.h"

#include <optional>
#include <string>

#include "app/run_journal.h"
#include "app/skip_same.h"
#include "console/bank_table.h"
#include "console/dialogs.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "platform/visible_text.h"
#include "protocol/actions.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/unit.h"

namespace {

// The unit the operations act on, and where they are recorded for the run's report (none in
// some tests).
struct batch_context {
    unit& u;
    run_journal* journal;
};

void journal_begin(batch_context& c, const char* operation, const std::string& file,
                   const std::string& target) {
    if (c.journal != nullptr) {
        c.journal->begin(operation, file, target);
    }
}

void journal_refused(batch_context& c, const char* operation, const std::string& file,
                     const std::string& target) {
    if (c.journal != nullptr) {
        c.journal->refused(operation, file, target);
    }
}

// The option word of an operation, as the report names it.
const char* operation_name(const option_table& options, int index) {
    return options[static_cast<std::size_t>(index)].name;
}

std::string bank_text(std::int64_t bank) { return "bank " + std::to_string(bank); }

// A bank that is not 0 to 3 refuses the operation: noted as a failure and journalled.
void refuse_bank(batch_context& c, const char* operation, const std::string& file,
                 std::int32_t bank) {
    note_operation_failed(c.u, "Invalid bank " + std::to_string(bank));
    journal_refused(c, operation, file, bank_text(bank));
}

// An EEPROM type that names no EEPROM refuses the operation the same way.
void refuse_prom_type(batch_context& c, const char* operation, const std::string& file,
                      const std::string& type) {
    note_operation_failed(c.u, "Unknown EEPROM type \"" + type + "\"");
    journal_refused(c, operation, file, type);
}

// +skip_same: when the target already holds the file's image, the load just begun ends as
// skipped, with the reason on screen, and nothing is sent. True then.
bool skip_if_same(batch_context& c, const option_table& options, const std::string& file,
                  const std::optional<held_image>& held, const std::string& target,
                  operation_state& state) {
    if (!options[opt_skip_same].value.b) {
        return false;
    }
    const std::optional<std::string> reason = same_as_held(c.u, file, held, target);
    if (!reason) {
        return false;
    }
    out_printf("Skipped %s: %s\n", visible_text(file).c_str(), reason->c_str());
    if (c.journal != nullptr) {
        c.journal->skipped(*reason);
    }
    state = operation_state::idle;
    return true;
}

// How long a load waits for the unit to say what an EEPROM holds before it loads anyway.
constexpr std::uint32_t eeprom_probe_wait_ms = 3000;

// Options standing beyond this argument position are never performed.
constexpr int last_operation_position = 24;
constexpr int run_ends = -1;

// An EEPROM as the prom_type option names it.
struct eeprom_choice {
    std::uint8_t file_type;
    std::uint8_t channel;  // channel index, 0 for the single Controller and Charger
};

struct eeprom_name {
    const char* text;
    int code;  // file type, or file type x 10 + channel index
};

constexpr eeprom_name eeprom_names[] = {
    {"Controller", 3}, {"Charger", 4}, {"PA1", 50}, {"PA2", 51}, {"PA3", 52},
    {"PA4", 53},       {"TC1", 60},    {"TC2", 61}, {"TC3", 62}, {"TC4", 63},
};

std::optional<eeprom_choice> find_eeprom(const std::string& text) {
    for (const auto& entry : eeprom_names) {
        if (text == entry.text) {
            if (entry.code < 5) {
                return eeprom_choice{static_cast<std::uint8_t>(entry.code), 0};
            }
            return eeprom_choice{static_cast<std::uint8_t>(entry.code / 10),
                                 static_cast<std::uint8_t>(entry.code % 10)};
        }
    }
    return std::nullopt;
}

const std::string& text_of(const arg_option& option) {
    static const std::string none;
    return option.value.text ? *option.value.text : none;
}

// The bank a load or boot works on: the one given with /bank, or else the bank the unit is
// not running from. Nothing when a given bank is refused.
std::optional<std::uint8_t> choose_bank(batch_context& c, const option_table& options) {
    const arg_option& bank = options[opt_bank];
    if (bank.given) {
        if (check_bank(c.u, static_cast<std::int32_t>(bank.value.u)) != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(bank.value.u);
    }
    return static_cast<std::uint8_t>(c.u.op.active_bank == 1 ? 2 : 1);
}

// Fills file_type and channel from the prom_type option, with the trace line. False, after a
// message, for a name that is none of the EEPROMs: nothing is loaded or fetched then.
bool select_eeprom(batch_context& c, const option_table& options, const char* verb,
                   const char* what, const char* preposition) {
    firmware_operation_record& op = c.u.op;
    op.bank = 0;
    const std::string& name = text_of(options[opt_prom_type]);
    const std::optional<eeprom_choice> choice = find_eeprom(name);
    if (!choice) {
        out_printf("Unknown EEPROM type \"%s\": use /prom_type with Controller, Charger, "
                   "PA1 to PA4 or TC1 to TC4\n",
                   visible_text(name).c_str());
        return false;
    }
    op.file_type = choice->file_type;
    op.bank = choice->channel;
    if (op.verbose_level >= 2) {
        const char* device = device_name(choice->file_type);
        if (choice->file_type == file_type_pa || choice->file_type == file_type_tc) {
            out_printf("%s %s %s %s channel %d\n", verb, what, preposition, device,
                       choice->channel + 1);
        } else {
            out_printf("%s %s %s %s\n", verb, what, preposition, device);
        }
    }
    return true;
}

// A download from the command line: preparing_download once the file is accepted.
void start_load(batch_context& c, const option_table& options, const std::string& file,
                operation_state& state) {
    firmware_operation_record& op = c.u.op;
    op.expected_seq = 0;
    const load_answer answer = check_load_file(file, text_of(options[opt_comment]));
    record_download_choice(c.u, answer.choice);
    if (answer.result == load_result::go) {
        state = operation_state::preparing_download;
        return;
    }
    op.redraw_request = static_cast<std::uint8_t>(static_cast<int>(answer.result));
    state = operation_state::idle;
    note_operation_failed(c.u, "the file " + file + " cannot be loaded");
}

int load_image(batch_context& c, const option_table& options, int index,
               operation_state& state) {
    const std::string& file = text_of(options[static_cast<std::size_t>(index)]);
    const std::optional<std::uint8_t> bank = choose_bank(c, options);
    if (!bank) {
        refuse_bank(c, operation_name(options, index), file,
                    static_cast<std::int32_t>(options[opt_bank].value.u));
        return run_ends;
    }
    const bool software = index == opt_load_sw;
    out_printf("Save %s %s to bank %d\n", software ? "SW" : "FW", visible_text(file).c_str(),
               int{*bank});
    journal_begin(c, operation_name(options, index), file, bank_text(*bank));
    c.u.op.bank = *bank;
    c.u.op.file_type = software ? file_type_software : file_type_fpga;
    if (!skip_if_same(c, options, file, image_in_bank(c.u, c.u.op.file_type, *bank),
                      bank_text(*bank), state)) {
        start_load(c, options, file, state);
    }
    return index;
}

int boot(batch_context& c, const option_table& options, int index, operation_state& state) {
    // A refused bank ends the run even when the option is false.
    const std::optional<std::uint8_t> bank = choose_bank(c, options);
    if (!bank) {
        refuse_bank(c, operation_name(options, index), {},
                    static_cast<std::int32_t>(options[opt_bank].value.u));
        return run_ends;
    }
    if (!options[static_cast<std::size_t>(index)].value.b) {
        return index;
    }
    const int target = index == opt_boot ? *bank : c.u.op.current_bank;
    journal_begin(c, operation_name(options, index), {}, bank_text(target));
    begin_boot(c.u, static_cast<std::uint8_t>(target), state);
    return index;
}

int get_image(batch_context& c, const option_table& options, int index, operation_state& state) {
    if (!options[static_cast<std::size_t>(index)].value.b) {
        return index;
    }
    const auto bank = static_cast<std::int32_t>(options[opt_bank].value.u);
    if (check_bank(c.u, bank) != 0) {
        // This one is skipped, the run goes on.
        refuse_bank(c, operation_name(options, index), {}, bank);
        return index;
    }
    const bool software = index == opt_get_sw;
    out_printf("Get %s from bank %d\n", software ? "SW" : "FW", static_cast<int>(bank));
    journal_begin(c, operation_name(options, index), {}, bank_text(bank));
    begin_get(c.u, software ? file_type_software : file_type_fpga,
              static_cast<std::uint8_t>(bank), state);
    return index;
}

// What the unit said the EEPROM of the probe holds, once it has answered or the wait is over;
// false while the answer is still awaited. Nothing held when it did not answer in time or named
// another EEPROM.
bool probe_answered(unit& u, std::optional<held_image>& held) {
    eeprom_probe& probe = u.probe;
    const bool answered = u.eeprom_answers != probe.answers_before;
    if (!answered && tick_count_ms() - probe.asked_tick < eeprom_probe_wait_ms) {
        return false;
    }
    firmware_operation_record& op = u.op;
    if (answered && op.file_type == probe.file_type && op.bank == probe.channel) {
        held = held_image{op.file_size, op.file_crc};
    } else if (!answered) {
        out_printf("%s did not say what it holds: the file is loaded\n",
                   target_text(probe.file_type, probe.channel).c_str());
    }
    // An EEPROM_ACK has changed the loader record: back to what the load is for.
    op.file_type = probe.file_type;
    op.bank = probe.channel;
    probe = eeprom_probe{};
    return true;
}

int load_eeprom(batch_context& c, const option_table& options, int& cursor, int asked_at,
                operation_state& state) {
    const std::string& file = text_of(options[opt_load_prom]);
    std::optional<held_image> held;
    if (c.u.probe.asked) {
        if (!probe_answered(c.u, held)) {
            cursor = asked_at;  // handed out again on the next pass
            return opt_load_prom;
        }
    } else {
        if (!select_eeprom(c, options, "loading", file.c_str(), "to")) {
            refuse_prom_type(c, "load_prom", file, text_of(options[opt_prom_type]));
            return opt_load_prom;
        }
        if (options[opt_skip_same].value.b) {
            // What the EEPROM holds comes with EEPROM_ACK: asked for first, and the load taken
            // up again once it came.
            c.u.probe = eeprom_probe{true, c.u.op.file_type, c.u.op.bank, tick_count_ms(),
                                     c.u.eeprom_answers};
            send_eeprom_info_request(c.u, c.u.op.file_type, c.u.op.bank);
            state = operation_state::idle;
            cursor = asked_at;
            return opt_load_prom;
        }
    }
    const std::string target = target_text(c.u.op.file_type, c.u.op.bank);
    journal_begin(c, "load_prom", file, target);
    if (!skip_if_same(c, options, file, held, target, state)) {
        start_load(c, options, file, state);
    }
    return opt_load_prom;
}

int get_eeprom(batch_context& c, const option_table& options, operation_state& state) {
    if (!options[opt_get_prom].value.b) {
        return opt_get_prom;
    }
    if (!select_eeprom(c, options, "getting", "eeprom", "from")) {
        refuse_prom_type(c, "get_prom", {}, text_of(options[opt_prom_type]));
        return opt_get_prom;
    }
    journal_begin(c, "get_prom", {}, target_text(c.u.op.file_type, c.u.op.bank));
    c.u.op.expected_seq = 0;
    begin_get(c.u, c.u.op.file_type, c.u.op.bank, state);
    return opt_get_prom;
}

}  // namespace

bool is_batch_run(const option_table& options) {
    for (int k = opt_bank; k <= opt_get_prom; ++k) {
        if (options[static_cast<std::size_t>(k)].given) {
            return true;
        }
    }
    return false;
}

int next_operation_option(const option_table& options, int& cursor) {
    for (int p = cursor + 1; p <= last_operation_position; ++p) {
        for (std::size_t k = 0; k < options.size(); ++k) {
            if (options[k].position == p) {
                cursor = p;
                return static_cast<int>(k);
            }
        }
    }
    return -1;
}

int check_bank(const unit& u, std::int32_t bank) {
    const int first = u.op.first_bank;
    if (bank >= first && bank <= 3) {
        return 0;
    }
    out_printf("Invalid bank %d. Only Bank %d to 3 in valid\n", static_cast<int>(bank), first);
    return 1;
}

int start_batch_operation(unit& u, option_table& options, int& cursor, operation_state& state,
                          run_journal* journal) {
    batch_context c{u, journal};
    const int asked_at = cursor;
    const int index = next_operation_option(options, cursor);
    switch (index) {
    case opt_load_sw:
    case opt_load_fw:
        return load_image(c, options, index, state);
    case opt_boot:
    case opt_reboot:
        return boot(c, options, index, state);
    case opt_info:
        if (options[opt_info].value.b) {
            journal_begin(c, "info", {}, {});
            print_bank_info(u);
        }
        state = operation_state::idle;
        return index;
    case opt_get_sw:
    case opt_get_fw:
        return get_image(c, options, index, state);
    case opt_get_log:
        if (options[opt_get_log].value.b) {
            journal_begin(c, "get_log", {}, {});
            begin_log(u, false, state);
        }
        return index;
    case opt_load_prom:
        return load_eeprom(c, options, cursor, asked_at, state);
    case opt_get_prom:
        return get_eeprom(c, options, state);
    default:
        return index;  // options that start nothing, and -1 when none is left
    }
}
