#include "console/dialogs.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "console/file_info.h"
#include "console/file_picker.h"
#include "console/input.h"
#include "console/keys.h"
#include "files/file_types.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

// A file name is taken into 80 bytes: at most 79 characters, longer names are refused whole.
constexpr std::size_t name_limit = 80;
// What is kept of a comment.
constexpr std::size_t text_limit = 25;

// The answers of a dialog so far, starting from the type and bank of the loader record, and
// the lowest bank it offers.
struct answers {
    std::uint8_t file_type;
    std::uint8_t bank;
    int first_bank;
};

bool is_quit(int key) { return key == 'q' || key == 'Q'; }
bool is_yes(int key) { return key == 'y' || key == 'Y'; }

bool is_allowed_bank(const answers& a, int key) { return key >= '0' + a.first_bank && key <= '3'; }

// The bank shown is the key's code minus that of '0', whatever the key was.
void report_invalid_bank(const answers& a, int key) {
    out_printf("Invalid bank %d. Only Bank %d to 3 in valid\n", key - '0', a.first_bank);
}

// The flash load's bank, with its warning and question for bank 0. False when cancelled.
bool ask_load_bank(answers& a) {
    out_printf("  Load to Bank number (%d-3) ?\n", a.first_bank);
    int key = wait_key();
    for (;;) {
        if (is_quit(key)) {
            return false;
        }
        if (!is_allowed_bank(a, key)) {
            report_invalid_bank(a, key);
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
    out_printf("  From Bank number (%d-3) ?\n", a.first_bank);
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return false;
        }
        if (is_allowed_bank(a, key)) {
            a.bank = static_cast<std::uint8_t>(key - '0');
            return true;
        }
        report_invalid_bank(a, key);
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

// Looks the file up and takes its facts; asks for the last confirmation, with the user the
// unit records, when there is one to show (interactive).
load_answer check_file(download_choice choice, const std::string& name, std::string_view comment,
                       const std::string* user) {
    load_answer answer{load_result::failed, std::move(choice)};
    bool told = false;
    const std::optional<file_facts> facts = read_file_info(name, &told);
    if (!facts) {
        if (!told) {
            out_printf("  File \"%s\" does not exist\n", visible_text(name).c_str());
        }
        return answer;
    }
    download_choice& c = answer.choice;
    c.file_checked = true;
    c.path = name;
    c.comment = std::string(comment.substr(0, text_limit));
    c.size = facts->size;
    c.file_time = facts->file_time;
    c.download_time = facts->download_time;
    answer.result =
        user == nullptr || confirm_file_info(c, *user) ? load_result::go : load_result::declined;
    return answer;
}

load_answer interactive_load(dialog_kind kind, answers a, const std::string& user) {
    download_choice choice;
    const bool flash = kind != dialog_kind::eeprom;
    if (flash) {
        if (!ask_load_bank(a)) {
            return {load_result::cancelled, choice};
        }
        out_printf("  Load FPGA image (press F) or SW (press S)?\n");
        if (!ask_image_kind(a)) {
            return {load_result::cancelled, choice};
        }
    } else if (!ask_eeprom("  Load to\n", "  Load to channel(1-4)?\n", a)) {
        return {load_result::cancelled, choice};
    }
    choice.target_chosen = true;
    choice.file_type = a.file_type;
    choice.bank = a.bank;

    out_printf("  The following files can be loaded\n\n");
    const file_type_info* info = find_file_type(a.file_type);
    std::string name;
    if (info == nullptr || pick_file(info->pattern, &name, name_limit) != pick_result::chosen) {
        return {load_result::failed, choice};
    }
    std::string comment;
    if (flash) {
        out_printf("\n  Type comment\n");
        if (!read_line(comment, text_limit)) {
            comment.clear();
        }
        out_printf("Comment: %s\n", visible_text(comment).c_str());
    }
    return check_file(std::move(choice), name, comment, &user);
}

}  // namespace

load_answer load_dialog(dialog_kind kind, const firmware_operation_record& loader) {
    return interactive_load(kind, answers{loader.file_type, loader.bank, loader.first_bank},
                            loader.user.c_str());
}

load_answer check_load_file(const std::string& file, const std::string& comment) {
    if (file.size() >= name_limit) {
        // Cut short it would name another file, or none.
        out_printf("  File name too long (%zu characters, at most %zu): %s\n", file.size(),
                   name_limit - 1, visible_text(file).c_str());
        return {load_result::failed, {}};
    }
    return check_file({}, file, comment, nullptr);
}

std::optional<get_answer> get_dialog(dialog_kind kind, const firmware_operation_record& loader) {
    answers a{loader.file_type, loader.bank, loader.first_bank};
    if (kind == dialog_kind::eeprom) {
        if (!ask_eeprom("\n  Get EEPROM image from\n", "  Load from channel(1-4)?\n", a)) {
            return std::nullopt;
        }
    } else {
        out_printf("\n  Get FPGA image (press F) or SW (press S)?\n");
        if (!ask_image_kind(a) || !ask_get_bank(a)) {
            return std::nullopt;
        }
    }
    return get_answer{a.file_type, a.bank};
}

std::optional<std::uint8_t> boot_dialog() {
    out_printf("  Enter bank (0-3)\n");
    int chosen = 0;
    for (;;) {
        const int key = wait_key();
        if (is_quit(key)) {
            return std::nullopt;
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
            return std::nullopt;
        }
        if (is_yes(key)) {
            return static_cast<std::uint8_t>(chosen);
        }
    }
}

std::optional<int> verbose_dialog() {
    out_printf("Enter verbose level\n");
    int level = 0;
    if (read_number(level) == 1) {
        return level;
    }
    return std::nullopt;
}
