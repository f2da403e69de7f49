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
#include "link/crc.h"
#include "platform/output.h"
#include "protocol/display.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

// One block of an upload into its file of the output folder; the finished file is noted
// among the files the run wrote.
bool write_block(unit& u, int kind, std::size_t length, bool last) {
    const std::string name = output_file_name(u.op.file_type, u.op.bank).value_or(std::string());
    const std::string folder = u.op.output_folder.c_str();
    const result written = u.output.write(folder, kind, name, u.received_block.data.data(), length);
    if (!written) {
        out_printf("Error %d writing to file %s in %s\n", written.code, name.c_str(),
                   folder.c_str());
        return false;
    }
    if (last) {
        u.written.push_back({u.output.finished_path(), u.op.file_size, u.upload.running_crc});
    }
    return true;
}

result ask_for_block(unit& u, std::uint32_t block) {
    return send_file_request(u, static_cast<std::uint16_t>(u.op.chunk_size), u.op.bank,
                             static_cast<std::uint16_t>(block), u.op.file_type);
}

// Back to idle after the upload or the log, with its last message left on screen.
void finish(unit& u, operation_state& state) {
    state = operation_state::idle;
    u.op.block_received.clear();
    u.op.redraw_request = 1;
}

void fail(unit& u, operation_state& state, std::string_view reason) {
    u.output.discard();
    u.upload.read_back_complete = false;
    note_operation_failed(u, reason);
    finish(u, state);
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
bool answered_for_another(unit& u, operation_state& state) {
    const std::uint8_t type = u.op.file_type;
    const std::uint8_t bank = u.op.bank;
    if (type == u.upload.asked_type && bank == u.upload.asked_bank) {
        return false;
    }
    const std::string text = "EEPROM_ACK names " + image_text(type, bank) + ", but " +
                             image_text(u.upload.asked_type, u.upload.asked_bank) +
                             " was asked for. Nothing is fetched";
    out_printf("%s\n", text.c_str());
    u.op.file_type = u.upload.asked_type;
    u.op.bank = u.upload.asked_bank;
    fail(u, state, text);
    return true;
}

// What the first block fixes: the file's size and CRC-32 (from the bank record for a flash
// image, from EEPROM_ACK for an EEPROM) and so the number of blocks. False, after a message,
// when the upload cannot go on.
bool take_first_block(unit& u, std::uint16_t length) {
    const int type = u.op.file_type;
    if (find_file_type(type) == nullptr) {
        out_printf("Upload ended: the unit answered with unknown file type %d\n", type);
        return false;
    }
    if (length == 0) {
        out_printf("Upload ended: the unit sent a first block without data\n");
        return false;
    }
    if (type == file_type_fpga || type == file_type_software) {
        const std::uint8_t bank = u.op.bank;
        if (bank >= bank_records) {
            out_printf("Upload ended: there is no bank %d\n", int{bank});
            return false;
        }
        const image_descriptor& image =
            type == file_type_fpga ? u.banks[bank].fpga : u.banks[bank].software;
        u.op.file_size = image.size;
        u.op.file_crc = image.crc;
    }
    const std::uint32_t size = u.op.file_size;
    if (size == 0) {
        out_printf("Upload ended: the unit reports no file there (size 0)\n");
        return false;
    }
    if (refuse_upload_size(u, static_cast<std::uint8_t>(type), u.op.bank, size, length)) {
        return false;
    }
    u.op.seq_count = size / length + (size % length != 0 ? 1 : 0);
    u.upload.running_crc = 0xFFFFFFFFu;
    u.upload.block_length = length;
    // Each block has its place in the file, whatever the first read of it carried.
    u.upload.content.assign(size, 0);
    u.upload.repair_pass = 0;
    u.upload.block_reads.clear();
    return true;
}

// Where the block expected now lies in the file, and how many of the file's bytes it holds.
struct block_place {
    std::size_t offset;
    std::size_t length;
};
block_place place_of_expected_block(const unit& u) {
    const std::size_t size = u.upload.content.size();
    const std::size_t offset =
        std::min<std::size_t>(std::size_t{u.op.expected_seq} * u.upload.block_length, size);
    return {offset, std::min<std::size_t>(u.upload.block_length, size - offset)};
}

// The bytes of the block just taken in that belong to the file: the last block is cut to the
// file's size (never more than the block carried: a short block then fails the CRC check).
std::size_t file_bytes_of_block(const unit& u, std::size_t block_length) {
    std::size_t length = block_length;
    if (u.op.expected_seq == u.op.seq_count - 1) {
        const std::uint64_t before = std::uint64_t{u.op.seq_count - 1} * u.upload.block_length;
        length = std::min<std::uint64_t>(u.op.file_size - before, block_length);
    }
    return length;
}

// The file's part of the block just taken in, as long as its place: what a short block does not
// carry stays 0, so that two short reads alike compare alike.
std::vector<std::uint8_t> read_of_block(const unit& u, const block_place& place) {
    const std::vector<std::uint8_t>& data = u.received_block.data;
    std::vector<std::uint8_t> read(place.length, 0);
    std::copy_n(data.begin(), std::min(place.length, data.size()), read.begin());
    return read;
}

// Puts a read of the block expected now into its place in the file.
void place_read(unit& u, const block_place& place, const std::vector<std::uint8_t>& read) {
    std::copy(read.begin(), read.end(),
              u.upload.content.begin() + static_cast<std::ptrdiff_t>(place.offset));
}

// A read whose CRC-32 does not match starts a pass that reads every block again; false when the
// passes are used up.
bool start_repair_pass(unit& u, std::uint32_t crc) {
    upload_state& up = u.upload;
    if (up.repair_pass >= repair_passes) {
        return false;
    }
    ++up.repair_pass;
    if (u.op.verbose_level > 0) {
        out_printf("CRC32 %08X expected %08X: every block is read again (pass %d of %d)\n", crc,
                   u.op.file_crc, up.repair_pass, repair_passes);
    }
    up.block_reads.clear();
    u.op.expected_seq = 0;
    u.op.block_received.clear();
    ask_for_block(u, 0);
    return true;
}

// The file read whole and right: into memory, or written in place of the unfinished one.
void keep_repaired(unit& u, operation_state& state) {
    upload_state& up = u.upload;
    if (up.into_memory) {
        up.read_back = up.content;
        up.read_back_complete = true;
    } else {
        const std::string name =
            output_file_name(u.op.file_type, u.op.bank).value_or(std::string());
        const std::string folder = u.op.output_folder.c_str();
        const result written =
            u.output.write_over(folder, name, up.content.data(), up.content.size());
        if (!written) {
            out_printf("Error %d writing to file %s in %s\n", written.code, name.c_str(),
                       folder.c_str());
            fail(u, state, "the file read back could not be written");
            return;
        }
        u.written.push_back({u.output.finished_path(), u.op.file_size, u.op.file_crc});
    }
    if (u.op.verbose_level > 0) {
        out_printf("\nupload completed\n");
    }
    finish(u, state);
}

void give_up_read(unit& u, operation_state& state, std::uint32_t crc) {
    out_printf("CRC32 Error %08X expected %08X\n\r", crc, u.op.file_crc);
    // A file that does not match must not take the image's name.
    fail(u, state, "CRC32 Error: the file read back does not match the unit's CRC-32");
}

// A new read of a block compared with what was read of it before: `earlier` while no read of
// it has differed yet, then with every read of it since. Agreed once a read matches one before
// it; never_agreed after reads_of_a_block reads with no two alike.
enum class block_compare { agreed, read_again, never_agreed };
block_compare compare_block_read(unit& u, const std::vector<std::uint8_t>& earlier,
                                 const std::vector<std::uint8_t>& read, const char* what,
                                 int number) {
    std::vector<std::vector<std::uint8_t>>& reads = u.upload.block_reads;
    if (reads.empty()) {
        if (read == earlier) {
            return block_compare::agreed;
        }
        if (u.op.verbose_level > 0) {
            out_printf("%s %d differed between reads; read again\n", what, number);
        }
        reads = {earlier, read};
        return block_compare::read_again;
    }
    const bool agreed = std::find(reads.begin(), reads.end(), read) != reads.end();
    reads.push_back(read);
    if (agreed) {
        return block_compare::agreed;
    }
    return reads.size() >= reads_of_a_block ? block_compare::never_agreed
                                             : block_compare::read_again;
}

// One block of a pass that reads the file again: kept when it agrees with the read before,
// read again when it differs until two reads agree; at the end of the pass the CRC-32 is
// checked again.
void repair_block(unit& u, operation_state& state) {
    upload_state& up = u.upload;
    const block_place place = place_of_expected_block(u);
    const std::vector<std::uint8_t> read = read_of_block(u, place);
    const auto stored_at = up.content.begin() + static_cast<std::ptrdiff_t>(place.offset);
    const std::vector<std::uint8_t> stored(stored_at,
                                           stored_at + static_cast<std::ptrdiff_t>(place.length));
    ++up.blocks_read_again;
    u.op.block_received.clear();
    // A block that never reads alike twice: the pass takes its last read, and the CRC-32
    // decides.
    const bool settled = compare_block_read(u, stored, read, "Block",
                                            static_cast<int>(u.op.expected_seq)) !=
                         block_compare::read_again;
    if (!settled) {
        ask_for_block(u, u.op.expected_seq);
        return;
    }
    if (!up.block_reads.empty()) {
        place_read(u, place, read);
    }
    up.block_reads.clear();
    if (u.op.expected_seq + 1 < u.op.seq_count) {
        ++u.op.expected_seq;
        ask_for_block(u, u.op.expected_seq);
        return;
    }
    const std::uint32_t crc = crc32_file(up.content.data(), up.content.size(), 0xFFFFFFFFu);
    if (crc == u.op.file_crc) {
        keep_repaired(u, state);
    } else if (!start_repair_pass(u, crc)) {
        give_up_read(u, state, crc);
    }
}

// One block that arrived with the expected number.
void take_block(unit& u, operation_state& state) {
    u.upload.last_block_taken = static_cast<int>(u.op.expected_seq);
    if (u.upload.repair_pass > 0) {
        repair_block(u, state);
        return;
    }
    const auto block_length = static_cast<std::uint16_t>(u.received_block.data.size());
    std::size_t length = block_length;
    int kind = OUT_WRITE;
    const bool first = u.op.expected_seq == 0;
    if (first) {
        kind = OUT_CREATE;
        if (!take_first_block(u, block_length)) {
            fail(u, state, "Upload ended");
            return;
        }
    }
    const std::uint32_t count = u.op.seq_count;
    const bool last = u.op.expected_seq == count - 1;
    if (last) {
        kind = first ? OUT_CREATE_CLOSE : OUT_WRITE_CLOSE;
        // The unit sends every block full; the last is cut to the file size here.
        length = file_bytes_of_block(u, block_length);
    }
    const std::uint8_t* data = u.received_block.data.data();
    const std::uint32_t initial = first ? 0xFFFFFFFFu : ~u.upload.running_crc;
    u.upload.running_crc = crc32_file(data, length, initial);
    place_read(u, place_of_expected_block(u), read_of_block(u, place_of_expected_block(u)));
    // Every file is checked, one of a single block too: the line's checksum misses damage to
    // the upper four bits of a byte, and the CRC-32 the unit reported is the only other guard.
    // A file that does not match is read again before it is given up.
    if (last && u.upload.running_crc != u.op.file_crc) {
        if (!start_repair_pass(u, u.upload.running_crc)) {
            give_up_read(u, state, u.upload.running_crc);
        }
        return;
    }
    if (u.upload.into_memory) {
        u.upload.read_back.insert(u.upload.read_back.end(), data, data + length);
        u.upload.read_back_complete = last;
    } else if (!write_block(u, kind, length, last)) {
        fail(u, state, "the file read back could not be written");
        return;
    }
    if (u.op.verbose_level > 0) {
        out_printf("  file seq %d received out of %d\r", static_cast<int>(u.op.expected_seq + 1),
                   static_cast<int>(count));
    }
    if (!last) {
        ++u.op.expected_seq;
        u.op.block_received.clear();
        ask_for_block(u, u.op.expected_seq);
        return;
    }
    if (u.op.verbose_level > 0) {
        out_printf("\nupload completed\n");
    }
    finish(u, state);
}

// An answer for the block last taken in, come late after that block was asked for again: the
// wait for the block now expected goes on.
void late_answer_dropped(unit& u, int number) {
    u.op.block_received.clear();
    if (u.op.verbose_level > 0) {
        out_printf("A late second answer for block %d was dropped\n", number);
    }
}

bool is_last_log_block(const log_block_report& report) {
    const unsigned blocks_so_far = report.seq_no + 1u;
    return blocks_so_far * report.seq_no_size >= report.max_entries;
}

void write_log_file(unit& u) {
    if (u.op.batch_mode == 0) {
        u.op.output_folder = make_timestamp();
    }
    const log_block_report& report = u.log_report;
    const std::size_t wanted = static_cast<std::size_t>(report.entry_length) * report.entry_count;
    const std::size_t length = std::min(wanted, u.log_buffer.size());
    const std::string folder = u.op.output_folder.c_str();
    if (!u.output.write_whole(folder, "log.txt", u.log_buffer.data(), length)) {
        note_operation_failed(u, "log.txt could not be written");
        return;
    }
    u.written.push_back({u.output.finished_path(), length,
                         crc32_file(u.log_buffer.data(), length, 0xFFFFFFFFu)});
}

// The part of the log area block `seq_no` of the last report fills.
struct log_region {
    std::size_t offset;
    std::size_t length;
};
log_region region_of_log_block(const unit& u, const log_block_report& report) {
    const std::size_t size = u.log_buffer.size();
    const std::size_t offset =
        std::min(std::size_t{report.seq_no} * report.seq_no_size * log_slot_size, size);
    return {offset, std::min(std::size_t{report.seq_no_size} * log_slot_size, size - offset)};
}

std::vector<std::uint8_t> log_bytes(const std::uint8_t* area, const log_region& region) {
    return {area + region.offset, area + region.offset + region.length};
}

// A block of the second read: kept when it agrees with the first read, read again when it
// differs until two reads agree. False while the block is read again; true once it is settled
// (its agreed bytes in the log area) or, with `unsettled`, when no two reads of it agreed.
bool settle_log_block(unit& u, const log_block_report& report, bool& unsettled) {
    upload_state& up = u.upload;
    const log_region region = region_of_log_block(u, report);
    const std::vector<std::uint8_t> read = log_bytes(u.log_buffer.data(), region);
    if (up.first_log.size() != u.log_buffer.size()) {
        up.first_log.assign(u.log_buffer.size(), 0);
    }
    const std::vector<std::uint8_t> first = log_bytes(up.first_log.data(), region);
    if (!up.block_reads.empty()) {
        ++up.blocks_read_again;
    }
    switch (compare_block_read(u, first, read, "Log block", int{report.seq_no})) {
    case block_compare::read_again:
        send_log_request(u, report.seq_no);
        return false;
    case block_compare::never_agreed:
        unsettled = true;
        break;
    case block_compare::agreed:
        break;
    }
    // What two reads agreed on stands in both copies.
    std::copy(read.begin(), read.end(),
              up.first_log.begin() + static_cast<std::ptrdiff_t>(region.offset));
    up.block_reads.clear();
    return true;
}

void end_log(unit& u, operation_state& state) {
    u.op.expected_seq = 0;
    u.upload.log_read = 0;
    u.upload.block_reads.clear();
    state = operation_state::idle;
}

void log_block(unit& u, operation_state& state, loader_display& display) {
    const log_block_report& report = u.log_report;
    if (report.seq_no != u.op.expected_seq) {
        out_printf("Error in receiving the log. Seq no mismatch %d %d\n",
                   static_cast<int>(u.op.expected_seq), int{report.seq_no});
        end_log(u, state);
        u.op.redraw_request = 1;
        note_operation_failed(u, "Error in receiving the log. Seq no mismatch");
        return;
    }
    u.upload.log_layout = report;
    upload_state& up = u.upload;
    up.last_block_taken = int{report.seq_no};
    if (up.log_read == 2) {
        bool unsettled = false;
        if (!settle_log_block(u, report, unsettled)) {
            return;
        }
        if (unsettled) {
            const std::string reason = "The log's block " + std::to_string(report.seq_no) +
                                       " differed between every read: no log.txt is written";
            out_printf("%s\n", reason.c_str());
            end_log(u, state);
            u.op.redraw_request = 1;
            note_operation_failed(u, reason);
            return;
        }
    }
    if (!is_last_log_block(report)) {
        ++u.op.expected_seq;
        send_log_request(u, static_cast<std::uint8_t>(u.op.expected_seq));
        return;
    }
    if (up.log_read == 1) {
        // The log has no checksum of its own: it is read a second time, and written only once
        // every block of it read alike twice.
        up.first_log.assign(u.log_buffer.begin(), u.log_buffer.end());
        up.log_read = 2;
        u.op.expected_seq = 0;
        send_log_request(u, 0);
        return;
    }
    write_log_file(u);
    const bool view = state == operation_state::fetching_log_to_view;
    end_log(u, state);
    if (view) {
        // No redraw: the listing stays on screen.
        display.list_log(report.entry_count, u.log_buffer.data(), report.entry_length,
                         u.log_buffer.size());
    } else {
        u.op.redraw_request = 1;
    }
}

}  // namespace

void upload_pass(unit& u, operation_state& state) {
    if (answered_for_another(u, state)) {
        return;
    }
    if (u.op.boot_status != boot_status_none) {
        // The unit has rebooted (into its boot loader, to serve the upload): ask again.
        u.op.active_bank = u.op.current_bank;
        u.op.boot_status = boot_status_none;
        ask_for_block(u, u.op.expected_seq);
    }
    if (u.op.file_failed.test()) {
        out_printf("File upload failed\n");
        u.op.file_failed.clear();
        fail(u, state, "File upload failed");
        return;
    }
    switch (await_answer(u, u.op.block_received.test(), state, u.budgets.file_block,
                         transfer_timeout_ms(u, u.upload.slowest_answer_ms))) {
    case wait_result::answered:
        note_answer_time(u, u.upload.slowest_answer_ms);
        if (const std::uint16_t number = u.received_block.number;
            number != u.op.expected_seq && int{number} == u.upload.last_block_taken) {
            // The second answer of a block that was asked for again: already taken.
            late_answer_dropped(u, number);
            return;
        }
        if (const std::uint16_t number = u.received_block.number; number != u.op.expected_seq) {
            out_printf("Error in receiving the file. Seq no mismatch %d %d\n",
                       static_cast<int>(u.op.expected_seq), int{number});
            u.op.block_received.clear();
            ask_for_block(u, u.op.expected_seq);
            return;
        }
        take_block(u, state);
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        if (ask_for_block(u, u.op.expected_seq) && u.op.verbose_level > 0) {
            out_printf("state13_retry seq no: %d\n\r", static_cast<int>(u.op.expected_seq));
        }
        return;
    case wait_result::gave_up:
        out_printf("Unable to get the file from the unit. Too many retries\n\r");
        fail(u, state, "Unable to get the file from the unit. Too many retries");
        return;
    }
}

void log_pass(unit& u, operation_state& state, loader_display& display) {
    switch (await_answer(u, u.op.block_received.test(), state, u.budgets.log,
                         transfer_timeout_ms(u, u.upload.slowest_answer_ms))) {
    case wait_result::answered:
        note_answer_time(u, u.upload.slowest_answer_ms);
        if (const std::uint8_t number = u.log_report.seq_no;
            number != u.op.expected_seq && int{number} == u.upload.last_block_taken) {
            late_answer_dropped(u, number);
            return;
        }
        u.op.block_received.clear();
        log_block(u, state, display);
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        if (send_log_request(u, static_cast<std::uint8_t>(u.op.expected_seq)) &&
            u.op.verbose_level > 0) {
            out_printf("state12_retry seq no: %d\n\r", static_cast<int>(u.op.expected_seq));
        }
        return;
    case wait_result::gave_up:
        report_operation_failure(u, "Unable to get the log from the unit. Too many retries\n\r");
        u.op.expected_seq = 0;
        state = operation_state::idle;
        u.op.redraw_request = 1;
        return;
    }
}

void abandon_upload(unit& u) { u.output.discard(); }

void resume_upload(unit& u) {
    u.op.block_received.clear();
    u.upload.block_reads.clear();
    u.upload.slowest_answer_ms = 0;
    ask_for_block(u, u.op.expected_seq);
}

void resume_log(unit& u) {
    u.op.block_received.clear();
    u.upload.block_reads.clear();
    u.upload.slowest_answer_ms = 0;
    send_log_request(u, static_cast<std::uint8_t>(u.op.expected_seq));
}

void expect_upload_of(unit& u, std::uint8_t file_type, std::uint8_t bank) {
    u.upload.asked_type = file_type;
    u.upload.asked_bank = bank;
}

bool refuse_upload_size(unit& u, std::uint8_t file_type, std::uint8_t bank, std::uint32_t size,
                        std::uint32_t block_length) {
    const std::uint64_t blocks =
        block_length == 0 ? 0 : (std::uint64_t{size} + block_length - 1) / block_length;
    const std::uint64_t largest = std::uint64_t{max_chunks} * u.op.chunk_size;
    if (blocks <= max_chunks && size <= largest) {
        return false;
    }
    std::string what = image_text(file_type, bank);
    what[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])));
    out_printf("%s is reported as %u bytes, in %llu blocks of %u bytes: more than Kestrel can "
               "fetch (%u blocks, %llu bytes). Nothing is fetched\n",
               what.c_str(), size, static_cast<unsigned long long>(blocks), block_length,
               max_chunks, static_cast<unsigned long long>(largest));
    note_operation_failed(u, what + " is reported as " + std::to_string(size) +
                                 " bytes: more than Kestrel can fetch");
    return true;
}

void upload_into_memory(unit& u, bool into_memory) {
    u.upload.into_memory = into_memory;
    u.upload.read_back.clear();
    u.upload.read_back_complete = false;
    u.upload.blocks_read_again = 0;
    u.upload.repair_pass = 0;
    u.upload.block_reads.clear();
    u.upload.content.clear();
    u.upload.slowest_answer_ms = 0;
    u.upload.last_block_taken = -1;
}

log_fetch_count log_fetch_progress(const unit& u) {
    // Blocks of this fetch have been taken in once the expected number has moved on.
    const std::uint64_t blocks = u.op.expected_seq;
    if (blocks == 0) {
        return {};
    }
    const log_block_report& layout = u.upload.log_layout;
    const std::uint64_t entry = layout.entry_length;
    return {blocks * layout.seq_no_size * entry, std::uint64_t{layout.max_entries} * entry};
}
