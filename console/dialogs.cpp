#include "console/dialogs.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "console/file_info.h"
#include "console/file_picker.h"
#include "console/input.h"
#include "console/keys.h"
#include "console/timestamp.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/operations.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"

namespace {

// A file name is taken into 80 bytes: at most 79 characters, longer names are refused whole.
constexpr std::size_t name_limit = 80;
// What is sent and shown of a file name and a comment.
constexpr std::size_t text_limit = 25;

constexpr int get_started = 0;
constexpr int boot_sent = 1;
constexpr int dialog_cancelled = 2;
constexpr int get_refused = 3;

// The answers of a dialog, held apart until the dialog is through: a cancelled get leaves the
// operation still running (an upload keeps asking for its blocks by type and bank) untouched.
struct answers {
    std::uint8_t file_type = firmware_operation.file_type;
    std::uint8_t bank = firmware_operation.bank;

    void commit() const {
        firmware_operation.file_type = file_type;
        firmware_operation.bank = bank;
    }
};

bool is_quit(int key) { return key == 'q' || key == 'Q'; }
bool is_yes(int key) { return key == 'y' || key == 'Y'; }

int first_bank() { return firmware_operation.first_bank; }

bool is_allowed_bank(int key) { return key >= '0' + first_bank() && key <= '3'; }

// The bank shown is the key's code minus that of '0', whatever the key was.
void report_invalid_bank(int key) {
    out_printf("Invalid bank %d. Only Bank %d to 3 in valid\n", key - '0', first_bank());
}

// The flash load's bank, with its warning and question for bank 0. False when cancelled.
bool ask_load_bank(answers& a) {
    out_printf("  Load to Bank number (%d-3) ?\n", first_bank());
    int key = wait_key();
    for (;;) {
        if (is_quit(key)) {
            return false;
        }
        if (!is_allowed_bank(key)) {
            report_invalid_bank(key);
            key = wait_key();
            continue;
        }
        a.bank = static_cast<std::uint8_t>(key - '0');
        if (a.bank != 0) {
            return true;
        }
        out_printf("  Loading Bank 0!!!\n");
        out_printf("  Are you sure to load to bank 0? (Y/N)\n");
        key = wait_key();
        if (is_yes(key)) {
            return true;
        }
        // A line feed is not an answer: it goes back to the bank question as its next key.
        if (key != '\n') {
            return false;
        }
    }
}

// The get's bank: no question for bank 0. False when cancelled.
bool ask_get_bank(answers& a) {
    out_printf("  From Bank number (%d-3) ?\n", first_bank());
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return false;
        }
        if (is_allowed_bank(key)) {
            a.bank = static_cast<std::uint8_t>(key - '0');
            return true;
        }
        report_invalid_bank(key);
    }
}

// FPGA image or software image, after the question already printed. False when cancelled.
bool ask_image_kind(answers& a) {
    for (;;) {
        const int key = wait_key();
        if (key == 'f' || key == 'F') {
            a.file_type = file_type_fpga;
            return true;
        }
        if (key == 's' || key == 'S') {
            a.file_type = file_type_software;
            return true;
        }
        if (is_quit(key)) {
            return false;
        }
    }
}

// Which EEPROM, after its title, and for PA and TC which channel. False when cancelled.
bool ask_eeprom(const char* title, const char* channel_question, answers& a) {
    out_printf("%s", title);
    out_printf("  1) Controller\n");
    out_printf("  2) Charger\n");
    out_printf("  3) PA\n");
    out_printf("  4) TC\n");
    out_printf("  q) return\n");
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return false;
        }
        if (key >= '1' && key <= '4') {
            a.file_type = static_cast<std::uint8_t>(file_type_controller + (key - '1'));
            break;
        }
    }
    if (a.file_type != file_type_pa && a.file_type != file_type_tc) {
        return true;  // one Controller and one Charger EEPROM: the bank stays as it is
    }
    out_printf("%s", channel_question);
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return false;
        }
        if (key >= '1' && key <= '4') {
            a.bank = static_cast<std::uint8_t>(key - '1');
            return true;
        }
        out_printf("  Not in range. Try agian\n");
    }
}

// Looks the file up, stores its names and the comment, and asks for the last confirmation
// when interactive.
int check_and_store(const std::string& name, std::string_view comment, bool interactive) {
    if (read_file_info(name) != 0) {
        out_printf("  File \"%s\" does not exist\n", name.c_str());
        return load_failed;
    }
    // The file is opened later under its full name; only the first characters are sent.
    firmware_operation.file_path = name;
    firmware_operation.file_name = std::string_view(name).substr(0, text_limit);
    firmware_operation.comment = comment.substr(0, text_limit);
    const int result = interactive ? confirm_file_info() : load_go;
    firmware_operation.seq_no = 0;
    firmware_operation.seq_count = 0;
    return result;
}

int interactive_load(int kind) {
    answers a;
    const bool flash = kind != dialog_eeprom;
    if (flash) {
        if (!ask_load_bank(a)) {
            return load_cancelled;
        }
        out_printf("  Load FPGA image (press F) or SW (press S)?\n");
        if (!ask_image_kind(a)) {
            return load_cancelled;
        }
    } else if (!ask_eeprom("  Load to\n", "  Load to channel(1-4)?\n", a)) {
        return load_cancelled;
    }
    a.commit();

    out_printf("  The following files can be loaded\n\n");
    const file_type_info* info = find_file_type(a.file_type);
    std::string name;
    if (info == nullptr || pick_file(info->pattern, &name, name_limit) != pick_chosen) {
        return load_failed;
    }
    std::string comment;
    if (flash) {
        out_printf("\n  Type comment\n");
        if (!read_line(comment, text_limit)) {
            comment.clear();
        }
        out_printf("Comment: %s\n", comment.c_str());
    }
    return check_and_store(name, comment, true);
}

// Sends the first request of an upload: at once when the unit runs its boot loader in bank 0,
// else a reboot to bank 0, whose boot report makes state13 send it.
void start_get(int& op_state) {
    firmware_operation.expected_seq = 0;
    // Cleared before the request goes out, so that neither an answer from an earlier operation
    // nor an earlier boot report is taken for this one, and a quick answer is never lost.
    firmware_operation.block_received.clear();
    if (firmware_operation.current_bank != 0) {
        firmware_operation.boot_status = boot_status_none;
        firmware_operation.boot_bank = 0;
        Send_reboot_req(0);
    } else {
        send_file_request(static_cast<std::uint16_t>(firmware_operation.chunk_size),
                          firmware_operation.bank, 0, firmware_operation.file_type);
    }
    op_state = state13;
}

}  // namespace

int load_dialog(int kind, const char* file, const char* comment) {
    if (file == nullptr) {
        return interactive_load(kind);
    }
    const std::string name = file;
    if (name.size() >= name_limit) {
        // Cut short it would name another file, or none.
        out_printf("  File name too long (%zu characters, at most %zu): %s\n", name.size(),
                   name_limit - 1, file);
        return load_failed;
    }
    return check_and_store(name, comment == nullptr ? "" : comment, false);
}

int get_dialog(int kind, int& op_state) {
    if (firmware_operation.batch_mode == 0) {
        answers a;
        if (kind == dialog_eeprom) {
            if (!ask_eeprom("\n  Get EEPROM image from\n", "  Load from channel(1-4)?\n", a)) {
                return dialog_cancelled;
            }
        } else {
            out_printf("\n  Get FPGA image (press F) or SW (press S)?\n");
            if (!ask_image_kind(a) || !ask_get_bank(a)) {
                return dialog_cancelled;
            }
        }
        a.commit();
        // A command-line run made its folder once at start and keeps it for every get.
        make_timestamp(firmware_operation.output_folder);
    }
    if (kind != dialog_eeprom && bank_unknown(firmware_operation.bank)) {
        // The size and CRC-32 of the image come from the bank's record: without it there is
        // nothing to fetch by, and nothing to check the file against.
        out_printf("Bank %d is unknown: the unit did not report what it holds. Nothing is "
                   "fetched\n",
                   int{firmware_operation.bank.load()});
        firmware_operation.redraw_request = 1;
        note_operation_failed();
        return get_refused;
    }
    if (kind == dialog_eeprom) {
        // Size and CRC come with EEPROM_ACK; should it be lost, an old size must not be taken
        // for this EEPROM's (the upload then ends on the size 0).
        firmware_operation.file_size = 0;
        firmware_operation.file_crc = 0;
        send_eeprom_info_request(firmware_operation.file_type, firmware_operation.bank);
    }
    start_get(op_state);
    return get_started;
}

namespace {
// A report still lying from before the request would be taken for its answer, so the last one
// is forgotten before the request goes out (the boot wait does not clear it again: a quick
// answer would be lost).
void request_boot(std::uint8_t bank) {
    firmware_operation.boot_status = boot_status_none;
    firmware_operation.boot_bank = bank;
    Send_reboot_req(bank);
}
}  // namespace

int boot_dialog(int bank) {
    if (firmware_operation.batch_mode != 0) {
        request_boot(static_cast<std::uint8_t>(bank));
        return boot_sent;
    }
    out_printf("  Enter bank (0-3)\n");
    int chosen = 0;
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return dialog_cancelled;
        }
        // Any bank may be booted, the boot loader's own included, without a warning.
        if (key >= '0' && key <= '3') {
            chosen = key - '0';
            break;
        }
    }
    out_printf("  Boot to bank %d Y/N?\n", chosen);
    for (;;) {
        const int key = wait_key();
        if (is_quit(key) || key == 'n' || key == 'N') {
            return dialog_cancelled;
        }
        if (is_yes(key)) {
            request_boot(static_cast<std::uint8_t>(chosen));
            return boot_sent;
        }
    }
}

int verbose_dialog() {
    out_printf("Enter verbose level\n");
    int level = 0;
    if (read_number(level) == 1) {
        firmware_operation.verbose_level = static_cast<std::uint8_t>(static_cast<unsigned>(level));
    }
    return 0;
}

int start_get_log(int& op_state) {
    out_printf("Get Log\n");
    firmware_operation.expected_seq = 0;
    firmware_operation.block_received.clear();
    send_log_request(0);
    op_state = state12;
    return 0;
}
