#include "protocol/upload.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_types.h"
#include "files/output_files.h"
#include "files/timestamp.h"
#include "files/written_files.h"
#include "link/crc.h"
#include "platform/output.h"
#include "protocol/display.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

// The CRC-32 of the blocks received so far, carried from block to block.
std::uint32_t running_crc = 0;

// What the get under way asked for. EEPROM_ACK names the type and channel it answers for, and
// the loader record takes them; an answer for anything else must not be fetched under this
// get's name.
struct asked_target {
    std::uint8_t file_type = 0;
    std::uint8_t bank = 0;
};
asked_target asked;

// An upload that reads back into memory instead of a file, for a comparison.
struct read_back_state {
    bool into_memory = false;
    std::vector<std::uint8_t> data;
    bool complete = false;  // every block in and the CRC-32 matched
};
read_back_state read_back;

// One block of an upload into its file of the output folder; the finished file is noted
// among the files the run wrote.
bool write_block(int kind, std::size_t length, bool last) {
    const std::string name = output_file_name(firmware_operation.file_type,
                                              firmware_operation.bank)
                                 .value_or(std::string());
    const std::string folder = firmware_operation.output_folder.c_str();
    const int written = write_output(folder, kind, name, block_buffer.data(), length);
    if (written != 0) {
        out_printf("Error %d writing to file %s in %s\n", written, name.c_str(), folder.c_str());
        return false;
    }
    if (last) {
        note_written_file({output_path(folder, name), firmware_operation.file_size, running_crc});
    }
    return true;
}

// The log's layout as its last block taken in gave it, copied on the main loop while the
// receiver leaves the report alone (between the block's flag and the next request).
log_block_report log_layout;

void ask_for_block(std::uint32_t block) {
    send_file_request(static_cast<std::uint16_t>(firmware_operation.chunk_size),
                      firmware_operation.bank, static_cast<std::uint16_t>(block),
                      firmware_operation.file_type);
}

// Back to idle after the upload or the log, with its last message left on screen.
void finish(operation_state& state) {
    state = operation_state::idle;
    firmware_operation.block_received.clear();
    firmware_operation.redraw_request = 1;
}

void fail(operation_state& state, std::string_view reason) {
    discard_output();
    read_back.complete = false;
    note_operation_failed(reason);
    finish(state);
}

// The image or EEPROM as a message names it: "the FPGA image of bank 2", "PA channel 3".
std::string image_text(std::uint8_t file_type, std::uint8_t index) {
    if (file_type == file_type_fpga || file_type == file_type_software) {
        return std::string(file_type == file_type_fpga ? "the FPGA image" : "the software image") +
               " of bank " + std::to_string(index);
    }
    if (find_file_type(file_type) == nullptr) {
        return "file type " + std::to_string(file_type) + " with index " + std::to_string(index);
    }
    return target_text(file_type, index);
}

// An EEPROM_ACK for another type or channel than the get asked for has changed the loader
// record: the get ends before anything is fetched, and the record names what was asked again.
bool answered_for_another(operation_state& state) {
    const std::uint8_t type = firmware_operation.file_type;
    const std::uint8_t bank = firmware_operation.bank;
    if (type == asked.file_type && bank == asked.bank) {
        return false;
    }
    const std::string text = "EEPROM_ACK names " + image_text(type, bank) + ", but " +
                             image_text(asked.file_type, asked.bank) +
                             " was asked for. Nothing is fetched";
    out_printf("%s\n", text.c_str());
    firmware_operation.file_type = asked.file_type;
    firmware_operation.bank = asked.bank;
    fail(state, text);
    return true;
}

// What the first block fixes: the file's size and CRC-32 (from the bank record for a flash
// image, from EEPROM_ACK for an EEPROM) and so the number of blocks. False, after a message,
// when the upload cannot go on.
bool take_first_block(std::uint16_t length) {
    const int type = firmware_operation.file_type;
    if (find_file_type(type) == nullptr) {
        out_printf("Upload ended: the unit answered with unknown file type %d\n", type);
        return false;
    }
    if (length == 0) {
        out_printf("Upload ended: the unit sent a first block without data\n");
        return false;
    }
    if (type == file_type_fpga || type == file_type_software) {
        const std::uint8_t bank = firmware_operation.bank;
        if (bank >= bank_records) {
            out_printf("Upload ended: there is no bank %d\n", int{bank});
            return false;
        }
        const image_descriptor& image =
            type == file_type_fpga ? banks[bank].fpga : banks[bank].software;
        firmware_operation.file_size = image.size;
        firmware_operation.file_crc = image.crc;
    }
    const std::uint32_t size = firmware_operation.file_size;
    if (size == 0) {
        out_printf("Upload ended: the unit reports no file there (size 0)\n");
        return false;
    }
    if (refuse_upload_size(type, firmware_operation.bank, size, length)) {
        return false;
    }
    firmware_operation.seq_count = size / length + (size % length != 0 ? 1 : 0);
    running_crc = 0xFFFFFFFFu;
    return true;
}

// One block that arrived with the expected number.
void take_block(operation_state& state) {
    const std::uint16_t block_length = block_buffer.data_length();
    std::size_t length = block_length;
    int kind = OUT_WRITE;
    const bool first = firmware_operation.expected_seq == 0;
    if (first) {
        kind = OUT_CREATE;
        if (!take_first_block(block_length)) {
            fail(state, "Upload ended");
            return;
        }
    }
    const std::uint32_t count = firmware_operation.seq_count;
    const bool last = firmware_operation.expected_seq == count - 1;
    if (last) {
        kind = first ? OUT_CREATE_CLOSE : OUT_WRITE_CLOSE;
        // The unit sends every block full; the last is cut to the file size here.
        const std::uint32_t before = (count - 1) * block_length;
        length = static_cast<std::uint16_t>(firmware_operation.file_size - before);
        // Never more than the block carried: a short block then fails the CRC check.
        length = std::min<std::size_t>(length, block_length);
    }
    const std::uint32_t initial = first ? 0xFFFFFFFFu : ~running_crc;
    running_crc = crc32_file(block_buffer.data(), length, initial);
    // Every file is checked, one of a single block too: the line's checksum misses damage to
    // the upper four bits of a byte, and the CRC-32 the unit reported is the only other guard.
    if (last && running_crc != firmware_operation.file_crc) {
        out_printf("CRC32 Error %08X expected %08X\n\r", running_crc,
                   firmware_operation.file_crc.load());
        // A file that does not match must not take the image's name.
        fail(state, "CRC32 Error: the file read back does not match the unit's CRC-32");
        return;
    }
    if (read_back.into_memory) {
        read_back.data.insert(read_back.data.end(), block_buffer.data(),
                              block_buffer.data() + length);
        read_back.complete = last;
    } else if (!write_block(kind, length, last)) {
        fail(state, "the file read back could not be written");
        return;
    }
    if (firmware_operation.verbose_level > 0) {
        out_printf("  file seq %d received out of %d\r",
                   static_cast<int>(firmware_operation.expected_seq + 1), static_cast<int>(count));
    }
    if (!last) {
        ++firmware_operation.expected_seq;
        firmware_operation.block_received.clear();
        ask_for_block(firmware_operation.expected_seq);
        return;
    }
    if (firmware_operation.verbose_level > 0) {
        out_printf("\nupload completed\n");
    }
    finish(state);
}

bool is_last_log_block() {
    const unsigned blocks_so_far = log_report.seq_no + 1u;
    return blocks_so_far * log_report.seq_no_size >= log_report.max_entries;
}

void write_log_file() {
    if (firmware_operation.batch_mode == 0) {
        firmware_operation.output_folder = make_timestamp();
    }
    const std::size_t wanted =
        static_cast<std::size_t>(log_report.entry_length) * log_report.entry_count;
    const std::size_t length = std::min(wanted, log_buffer.size());
    const std::string folder = firmware_operation.output_folder.c_str();
    if (write_whole_output(folder, "log.txt", log_buffer.data(), length) != 0) {
        note_operation_failed("log.txt could not be written");
        return;
    }
    note_written_file({output_path(folder, "log.txt"), length,
                       crc32_file(log_buffer.data(), length, 0xFFFFFFFFu)});
}

void log_block(operation_state& state, loader_display& display) {
    if (log_report.seq_no != firmware_operation.expected_seq) {
        out_printf("Error in receiving the log. Seq no mismatch %d %d\n",
                   static_cast<int>(firmware_operation.expected_seq), int{log_report.seq_no});
        firmware_operation.expected_seq = 0;
        state = operation_state::idle;
        firmware_operation.redraw_request = 1;
        note_operation_failed("Error in receiving the log. Seq no mismatch");
        return;
    }
    log_layout = log_report;
    if (!is_last_log_block()) {
        ++firmware_operation.expected_seq;
        send_log_request(static_cast<std::uint8_t>(firmware_operation.expected_seq));
        return;
    }
    write_log_file();
    firmware_operation.expected_seq = 0;
    if (state == operation_state::fetching_log_to_view) {
        // No redraw: the listing stays on screen.
        display.list_log(log_report.entry_count, log_buffer.data(), log_report.entry_length,
                         log_buffer.size());
    } else {
        firmware_operation.redraw_request = 1;
    }
    state = operation_state::idle;
}

}  // namespace

void upload_pass(operation_state& state) {
    if (answered_for_another(state)) {
        return;
    }
    if (firmware_operation.boot_status.load(std::memory_order_acquire) != boot_status_none) {
        // The unit has rebooted (into its boot loader, to serve the upload): ask again.
        firmware_operation.active_bank = firmware_operation.current_bank;
        firmware_operation.boot_status = boot_status_none;
        ask_for_block(firmware_operation.expected_seq);
    }
    if (firmware_operation.file_failed.test()) {
        out_printf("File upload failed\n");
        firmware_operation.file_failed.clear();
        fail(state, "File upload failed");
        return;
    }
    switch (await_answer(firmware_operation.block_received.test(), state, budgets.file_block,
                         answer_timeout_ms)) {
    case wait_result::answered:
        if (const std::uint16_t number = block_buffer.chunk_number();
            number != firmware_operation.expected_seq) {
            out_printf("Error in receiving the file. Seq no mismatch %d %d\n",
                       static_cast<int>(firmware_operation.expected_seq), int{number});
            firmware_operation.block_received.clear();
            ask_for_block(firmware_operation.expected_seq);
            return;
        }
        take_block(state);
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        ask_for_block(firmware_operation.expected_seq);
        if (firmware_operation.verbose_level > 0) {
            out_printf("state13_retry seq no: %d\n\r",
                       static_cast<int>(firmware_operation.expected_seq));
        }
        return;
    case wait_result::gave_up:
        out_printf("Unable to get the file from the unit. Too many retries\n\r");
        fail(state, "Unable to get the file from the unit. Too many retries");
        return;
    }
}

void log_pass(operation_state& state, loader_display& display) {
    switch (await_answer(firmware_operation.block_received.test(), state, budgets.log,
                         answer_timeout_ms)) {
    case wait_result::answered:
        firmware_operation.block_received.clear();
        log_block(state, display);
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        send_log_request(static_cast<std::uint8_t>(firmware_operation.expected_seq));
        if (firmware_operation.verbose_level > 0) {
            out_printf("state12_retry seq no: %d\n\r",
                       static_cast<int>(firmware_operation.expected_seq));
        }
        return;
    case wait_result::gave_up:
        report_operation_failure("Unable to get the log from the unit. Too many retries\n\r");
        firmware_operation.expected_seq = 0;
        state = operation_state::idle;
        firmware_operation.redraw_request = 1;
        return;
    }
}

void abandon_upload() { discard_output(); }

void expect_upload_of(std::uint8_t file_type, std::uint8_t bank) { asked = {file_type, bank}; }

bool refuse_upload_size(std::uint8_t file_type, std::uint8_t bank, std::uint32_t size,
                        std::uint32_t block_length) {
    const std::uint64_t blocks =
        block_length == 0 ? 0 : (std::uint64_t{size} + block_length - 1) / block_length;
    const std::uint64_t largest = std::uint64_t{max_chunks} * firmware_operation.chunk_size;
    if (blocks <= max_chunks && size <= largest) {
        return false;
    }
    std::string what = image_text(file_type, bank);
    what[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])));
    out_printf("%s is reported as %u bytes, in %llu blocks of %u bytes: more than Kestrel can "
               "fetch (%u blocks, %llu bytes). Nothing is fetched\n",
               what.c_str(), size, static_cast<unsigned long long>(blocks), block_length,
               max_chunks, static_cast<unsigned long long>(largest));
    note_operation_failed(what + " is reported as " + std::to_string(size) +
                          " bytes: more than Kestrel can fetch");
    return true;
}

void upload_into_memory(bool into_memory) {
    read_back.into_memory = into_memory;
    read_back.data.clear();
    read_back.complete = false;
}

bool read_back_complete() { return read_back.complete; }

bool reading_back() { return read_back.into_memory; }

const std::vector<std::uint8_t>& read_back_data() { return read_back.data; }

log_fetch_count log_fetch_progress() {
    // Blocks of this fetch have been taken in once the expected number has moved on.
    const std::uint64_t blocks = firmware_operation.expected_seq;
    if (blocks == 0) {
        return {};
    }
    const std::uint64_t entry = log_layout.entry_length;
    return {blocks * log_layout.seq_no_size * entry, std::uint64_t{log_layout.max_entries} * entry};
}
