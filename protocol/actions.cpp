#include "protocol/actions.h"

#include <string_view>

#include "link/link_mode.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/upload.h"
#include "protocol/waiting.h"

namespace {

// What the unit records of a file name and a comment.
constexpr std::size_t text_limit = 25;

constexpr std::uint8_t interrupt_mode_byte = '#';  // the unit takes up framed messages
constexpr std::uint8_t polling_mode_byte = 'R';    // the unit leaves framed messages
constexpr std::uint32_t mode_switch_pause_ms = 100;

bool is_flash_type(std::uint8_t file_type) {
    return file_type == file_type_fpga || file_type == file_type_software;
}

// Sends the first request of an upload: at once when the unit runs its boot loader in bank 0,
// else a reboot to bank 0, whose boot report makes the upload send it.
void start_upload(operation_state& state) {
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
    state = operation_state::uploading;
}

}  // namespace

void record_download_choice(const download_choice& choice) {
    if (choice.target_chosen) {
        firmware_operation.file_type = choice.file_type;
        firmware_operation.bank = choice.bank;
    }
    if (!choice.file_checked) {
        return;
    }
    firmware_operation.download_time = choice.download_time;
    firmware_operation.file_time = choice.file_time;
    firmware_operation.file_size.store(choice.size);
    // The file is opened later under its full name; only the first characters are sent.
    firmware_operation.file_path = choice.path;
    firmware_operation.file_name = std::string_view(choice.path).substr(0, text_limit);
    firmware_operation.comment = std::string_view(choice.comment).substr(0, text_limit);
    firmware_operation.seq_no = 0;
    firmware_operation.seq_count = 0;
}

bool begin_get(std::uint8_t file_type, std::uint8_t bank, operation_state& state,
               bool into_memory) {
    upload_into_memory(into_memory);
    firmware_operation.file_type = file_type;
    firmware_operation.bank = bank;
    if (is_flash_type(file_type) && bank_unknown(bank)) {
        // The size and CRC-32 of the image come from the bank's record: without it there is
        // nothing to fetch by, and nothing to check the file against.
        out_printf("Bank %d is unknown: the unit did not report what it holds. Nothing is "
                   "fetched\n",
                   int{bank});
        firmware_operation.redraw_request = 1;
        note_operation_failed("Bank " + std::to_string(bank) +
                              " is unknown: the unit did not report what it holds");
        return false;
    }
    if (is_flash_type(file_type) && bank < bank_records) {
        // The size is known before the first request: a size whose block numbers would wrap
        // is refused before anything is asked.
        const bank_info& record = banks[bank];
        const std::uint32_t size =
            file_type == file_type_fpga ? record.fpga.size : record.software.size;
        if (refuse_upload_size(file_type, bank, size, firmware_operation.chunk_size)) {
            firmware_operation.redraw_request = 1;
            return false;
        }
    }
    expect_upload_of(file_type, bank);
    if (!is_flash_type(file_type)) {
        // Size and CRC come with EEPROM_ACK; should it be lost, an old size must not be taken
        // for this EEPROM's (the upload then ends on the size 0).
        firmware_operation.file_size = 0;
        firmware_operation.file_crc = 0;
        send_eeprom_info_request(file_type, bank);
    }
    start_upload(state);
    return true;
}

void begin_log(bool view, operation_state& state) {
    out_printf("Get Log\n");
    firmware_operation.expected_seq = 0;
    firmware_operation.block_received.clear();
    send_log_request(0);
    state = view ? operation_state::fetching_log_to_view : operation_state::fetching_log;
}

void begin_boot(std::uint8_t bank, operation_state& state) {
    // A report still lying from before the request would be taken for its answer, so the last
    // one is forgotten before the request goes out (the boot wait does not clear it again: a
    // quick answer would be lost).
    firmware_operation.boot_status = boot_status_none;
    firmware_operation.boot_bank = bank;
    Send_reboot_req(bank);
    state = operation_state::boot_requested;
}

void reconnect(operation_state& state) {
    state = operation_state::awaiting_boot_report;
    budgets.boot_report = boot_report_start_budget;
    firmware_operation.link_state = link_connecting;
    purge_link();
}

void to_remote_access() {
    send_loader_exit();
    send_loader_exit();
    out_printf("Change to Polling mode\n");
    loader_mode.store(0, std::memory_order_release);
    remote_access.store(1, std::memory_order_release);
    send_raw_byte(polling_mode_byte);
    sleep_ms(mode_switch_pause_ms);
}

void to_loader_mode(loader_display& display) {
    remote_access.store(0, std::memory_order_release);
    loader_mode.store(1, std::memory_order_release);
    send_raw_byte(interrupt_mode_byte);
    send_raw_byte(interrupt_mode_byte);
    out_printf("Change to interrupt mode\n");
    display.show_menu();
}

void send_remote_key(std::uint8_t key) { send_raw_byte(key); }

void set_trace_level(int level) {
    firmware_operation.verbose_level = static_cast<std::uint8_t>(static_cast<unsigned>(level));
}
