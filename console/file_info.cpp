// The file facts are taken when the file is chosen, so the download time is the moment of the
// choice, not the end of the transfer.
#include "console/file_info.h"

#include <cstdio>
#include <optional>

#include "console/date_text.h"
#include "console/input.h"
#include "files/file_types.h"
#include "files/image_file.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

std::string date_or_unknown(const std::optional<std::tm>& time) {
    return time ? date_text(*time) : date_text_unknown();
}

// Whether the regular file can be opened for reading.
bool can_open(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

// What the unit records of a file name and a comment.
constexpr std::size_t recorded_text_limit = 25;

bool is_flash_type(int file_type) {
    return file_type == file_type_fpga || file_type == file_type_software;
}

}  // namespace

std::optional<file_facts> read_file_info(const std::string& name, bool* told) {
    const std::optional<std::tm> now = local_time_now();
    const std::optional<file_status> status = get_file_status(name);
    if (told != nullptr) {
        *told = false;
    }
    // Only a regular file holds an image: opening a FIFO would wait for a writer, and a folder
    // or a device is no file that "does not exist".
    if (status && status->kind != file_kind::regular) {
        out_printf(status->kind == file_kind::directory
                       ? "  \"%s\" is a folder, not a file: nothing is loaded from it\n"
                       : "  \"%s\" is not a regular file (a device, a FIFO or a socket): nothing "
                         "is loaded from it\n",
                   visible_text(name).c_str());
        if (told != nullptr) {
            *told = true;
        }
        return std::nullopt;
    }
    if (!can_open(name)) {
        return std::nullopt;
    }
    if (!status) {
        out_printf("Could not read %s \n", visible_text(name).c_str());
        if (told != nullptr) {
            *told = true;
        }
        return std::nullopt;
    }
    // A larger size would be cut to its low 32 bits, and the unit given a wrong size.
    if (refuse_too_large(name, status->size)) {
        return std::nullopt;
    }
    return file_facts{static_cast<std::uint32_t>(status->size), date_or_unknown(local_time(status->modified)),
                      date_or_unknown(now)};
}

bool confirm_file_info(const download_choice& choice, const std::string& user) {
    const bool flash = is_flash_type(choice.file_type);
    // Shown as the unit records them: the first 25 characters.
    const std::string name = choice.path.substr(0, recorded_text_limit);
    const std::string comment = choice.comment.substr(0, recorded_text_limit);

    out_write("\n");
    if (flash) {
        out_printf("  Bank          : %i\n", static_cast<int>(choice.bank));
        out_printf("  File Type     : %s\n", find_file_type(choice.file_type)->label);
    }
    out_printf("  File Name     : %s\n", visible_text(name).c_str());
    // Unsigned, so that a file between 2 and 4 GiB does not show a negative size.
    out_printf("  File Size     : %u\n", static_cast<unsigned>(choice.size));
    out_printf("  File Time     : %s\n", choice.file_time.c_str());
    out_printf("  Download Time : %s\n", choice.download_time.c_str());
    if (flash) {
        out_printf("  User          : %s\n", user.c_str());
        out_printf("  Comment       : %s\n\n", visible_text(comment).c_str());
    }
    out_write("  OK to load this file Y/N?\n");

    const int key = wait_key() & 0xFF;
    return key == 'y' || key == 'Y';
}
