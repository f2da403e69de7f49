#include "protocol/actions.h"

#include <string_view>

#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
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
// Time-outs a get waits through for a bank's record before it refuses the bank as unknown.
constexpr int bank_asked_for_get_budget = 2;

bool is_flash_type(std::uint8_t file_type) {
    return file_type == file_type_fpga || file_type == file_type_software;
}

// Sends the first request of an upload: at once when the unit runs its boot loader in bank 0,
// else a reboot to bank 0, whose boot report makes the upload send it.
void start_upload(unit& u, operation_state& state) {
    firmware_operation_record& op = u.op;
    op.expected_seq = 0;
    // Cleared before the request goes out, so that neither an answer from an earlier operation
    // nor an earlier boot report is taken for this one, and a quick answer is never lost.
    op.block_received.clear();
    if (op.current_bank != 0) {
        op.boot_status = boot_status_none;
        op.boot_bank = 0;
        Send_reboot_req(u, 0);
    } else {
        send_file_request(u, static_cast<std::uint16_t>(op.chunk_size), op.bank, 0, op.file_type);
    }
    state = operation_state::uploading;
}

}  // namespace

void record_download_choice(unit& u, const download_choice& choice) {
    firmware_operation_record& op = u.op;
    if (choice.target_chosen) {
        op.file_type = choice.file_type;
        op.bank = choice.bank;
    }
    if (!choice.file_checked) {
        return;
    }
    op.download_time = choice.download_time;
    op.file_time = choice.file_time;
    op.file_size = choice.size;
    // The file is opened later under its full name; only the first characters are sent.
    op.file_path = choice.path;
    op.file_name = std::string_view(choice.path).substr(0, text_limit);
    op.comment = std::string_view(choice.comment).substr(0, text_limit);
    op.seq_no = 0;
    op.seq_count = 0;
}

namespace {

// A get; a bank not reported has the table asked for again first unless `table_asked` says
// that was done for this get already.
result start_get(unit& u, std::uint8_t file_type, std::uint8_t bank, operation_state& state,
                 bool into_memory, bool table_asked) {
    firmware_operation_record& op = u.op;
    upload_into_memory(u, into_memory);
    op.file_type = file_type;
    op.bank = bank;
    if (is_flash_type(file_type) && bank_unknown(u, bank) && !table_asked) {
        // The bank's record may have been lost on the line: the table is asked for again, and
        // the get taken up once the record is in, or the unit still does not report it.
        if (op.verbose_level > 0) {
            out_printf("Bank %d was not reported: the bank table is asked for again\n",
                       int{bank});
        }
        u.upload.waiting_get = pending_get{file_type, bank, into_memory};
        u.banks_asked_again = true;
        u.budgets.bank_records = bank_asked_for_get_budget;
        op.flash_info_done.clear();
        send_flash_info_request(u);
        state = operation_state::awaiting_bank_records;
        return result::success();
    }
    if (is_flash_type(file_type) && bank_unknown(u, bank)) {
        // The size and CRC-32 of the image come from the bank's record: without it there is
        // nothing to fetch by, and nothing to check the file against.
        out_printf("Bank %d is unknown: the unit did not report what it holds. Nothing is "
                   "fetched\n",
                   int{bank});
        op.redraw_request = 1;
        note_operation_failed(u, "Bank " + std::to_string(bank) +
                                     " is unknown: the unit did not report what it holds");
        return result::failure(result_kind::refused, last_failure_reason(u));
    }
    if (is_flash_type(file_type) && bank < bank_records) {
        // The size is known before the first request: a size whose block numbers would wrap
        // is refused before anything is asked.
        const bank_info& record = u.banks[bank];
        const std::uint32_t size =
            file_type == file_type_fpga ? record.fpga.size : record.software.size;
        if (refuse_upload_size(u, file_type, bank, size, op.chunk_size)) {
            op.redraw_request = 1;
            return result::failure(result_kind::refused, last_failure_reason(u));
        }
    }
    expect_upload_of(u, file_type, bank);
    if (!is_flash_type(file_type)) {
        // Size and CRC come with EEPROM_ACK; should it be lost, an old size must not be taken
        // for this EEPROM's (the upload then ends on the size 0).
        op.file_size = 0;
        op.file_crc = 0;
        send_eeprom_info_request(u, file_type, bank);
    }
    start_upload(u, state);
    return result::success();
}

}  // namespace

result begin_get(unit& u, std::uint8_t file_type, std::uint8_t bank, operation_state& state,
                 bool into_memory) {
    return start_get(u, file_type, bank, state, into_memory, false);
}

void resume_waiting_get(unit& u, operation_state& state) {
    if (!u.upload.waiting_get) {
        return;
    }
    const pending_get get = *u.upload.waiting_get;
    u.upload.waiting_get.reset();
    start_get(u, get.file_type, get.bank, state, get.into_memory, true);
}

std::string resume_on_new_line(unit& u, operation_state& state) {
    firmware_operation_record& op = u.op;
    switch (state) {
    case operation_state::uploading:
        resume_upload(u);
        return "the read goes on from block " + std::to_string(op.expected_seq);
    case operation_state::fetching_log:
    case operation_state::fetching_log_to_view:
        resume_log(u);
        return "the log goes on from block " + std::to_string(op.expected_seq);
    case operation_state::preparing_download:
    case operation_state::awaiting_dl_ready:
    case operation_state::awaiting_info_ack:
    case operation_state::sending_chunk:
    case operation_state::awaiting_chunk_answer:
        // The unit takes a new DL_REQ as the start of a new load; what it had is dropped.
        op.seq_no = 0;
        op.dl_ready.clear();
        op.fwinfo_acked.clear();
        op.chunk_acked.clear();
        op.chunk_failed.clear();
        state = operation_state::preparing_download;
        return "the load starts again from its beginning";
    case operation_state::awaiting_boot_report:
    case operation_state::boot_requested:
    case operation_state::awaiting_boot:
        send_boot_info_request(u);
        return "the unit is asked again for its boot report";
    case operation_state::awaiting_bank_records:
        send_flash_info_request(u);
        return "the bank table is asked for again";
    default:
        return {};
    }
}

void begin_log(unit& u, bool view, operation_state& state) {
    out_printf("Get Log\n");
    u.op.expected_seq = 0;
    u.upload.log_read = 1;
    u.upload.first_log.clear();
    u.upload.block_reads.clear();
    u.upload.blocks_read_again = 0;
    u.upload.slowest_answer_ms = 0;
    u.upload.last_block_taken = -1;
    u.budgets.log = log_start_budget;
    u.op.block_received.clear();
    send_log_request(u, 0);
    state = view ? operation_state::fetching_log_to_view : operation_state::fetching_log;
}

void begin_boot(unit& u, std::uint8_t bank, operation_state& state) {
    // A report still lying from before the request would be taken for its answer, so the last
    // one is forgotten before the request goes out (the boot wait does not clear it again: a
    // quick answer would be lost).
    u.op.boot_status = boot_status_none;
    u.op.boot_bank = bank;
    Send_reboot_req(u, bank);
    state = operation_state::boot_requested;
}

void reconnect(unit& u, operation_state& state) {
    state = operation_state::awaiting_boot_report;
    u.budgets.boot_report = boot_report_start_budget;
    u.op.link_state = link_connecting;
    purge_link(u);
}

void to_remote_access(unit& u) {
    if (!send_loader_exit(u) || !send_loader_exit(u)) {
        return;  // the link has failed: the session ends the run
    }
    out_printf("Change to Polling mode\n");
    u.link.set_mode(line_mode::remote_access);
    send_raw_byte(u, polling_mode_byte);
    sleep_ms(mode_switch_pause_ms);
}

void to_loader_mode(unit& u, loader_display& display) {
    u.link.set_mode(line_mode::loader);
    if (!send_raw_byte(u, interrupt_mode_byte) || !send_raw_byte(u, interrupt_mode_byte)) {
        return;
    }
    out_printf("Change to interrupt mode\n");
    display.show_menu();
}

void send_remote_key(unit& u, std::uint8_t key) { send_raw_byte(u, key); }

void set_trace_level(unit& u, int level) {
    set_verbose_level(u, static_cast<std::uint8_t>(static_cast<unsigned>(level)));
}
