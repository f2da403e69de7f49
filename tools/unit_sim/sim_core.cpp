#include "tools/unit_sim/sim_core.h"

#include <algorithm>
#include <utility>

#include "link/byte_order.h"
#include "link/crc.h"
#include "tools/unit_sim/sim_damage.h"
#include "tools/unit_sim/sim_samples.h"

namespace {

constexpr std::uint8_t loader_bank = 0;
constexpr std::uint8_t enter_polling = 'R';  // after two LOADER_EXIT: the line becomes a terminal
constexpr unsigned exits_before_polling = 2;

// Where the file of a download or request lives, for log lines.
std::string store_text(std::uint8_t file_type, std::uint8_t index) {
    const char* name = device_name(file_type);
    if (name == nullptr) {
        const file_type_info* info = find_file_type(file_type);
        return std::string(info != nullptr ? info->name : "?") + " bank " + std::to_string(index);
    }
    if (file_type == file_type_pa || file_type == file_type_tc) {
        return std::string(name) + " channel " + std::to_string(index + 1);
    }
    return name;
}

}  // namespace

unit_core::unit_core(const sim_unit_options& options, sim_clock::time_point start)
    : start_(start),
      boot_delay_(options.boot_delay),
      trace_(options.trace, options.verbosity, start),
      on_received_(options.on_received),
      keep_received_(options.keep_received),
      faults_(options.faults, options.seed) {
    view_.memory = factory_memory();
    for (const image_preload& preload : options.preloads) {
        // Checked by whoever made the options; one that does not fit leaves the factory image.
        preload_image(view_.memory, preload);
    }
    view_.current_bank = 1;
}

void unit_core::set_faults(const sim_faults& faults) {
    faults_.set(faults);
}

void unit_core::set_line(bool present) {
    view_.port_open = present;
    if (!present) {
        reader_.reset();
    }
}

double unit_core::ms_since_start(sim_clock::time_point at) const {
    return std::chrono::duration<double, std::milli>(at - start_).count();
}

void unit_core::record(received_kind kind, const std::vector<std::uint8_t>& bytes,
                       sim_clock::time_point at) {
    received_item item{kind, ms_since_start(at), bytes};
    trace_.received(item);
    if (on_received_) {
        on_received_(item);
    }
    if (keep_received_) {
        view_.received.push_back(std::move(item));
    }
}

// ---- Receiving -----------------------------------------------------------------------------

void unit_core::receive(std::uint8_t byte, sim_clock::time_point at) {
    if (view_.mode == unit_mode::polling) {
        take_typed(byte, at);
    } else {
        take_framed(byte, at);
    }
}

std::size_t unit_core::bytes_needed() const noexcept {
    return view_.mode == unit_mode::polling ? 1 : reader_.bytes_needed();
}

void unit_core::take_framed(std::uint8_t byte, sim_clock::time_point at) {
    std::vector<frame_piece> pieces;
    reader_.feed(byte, pieces);
    for (const frame_piece& piece : pieces) {
        if (view_.mode == unit_mode::polling) {
            // The line became a terminal in the middle of these bytes: the rest is typed text.
            for (const std::uint8_t typed : piece.bytes) {
                take_typed(typed, at);
            }
            continue;
        }
        record(piece.kind, piece.bytes, at);
        if (piece.kind == received_kind::message) {
            on_message(piece.bytes, at);
        } else if (piece.kind == received_kind::raw_byte) {
            on_raw(piece.bytes.front(), at);
        }
    }
}

void unit_core::take_typed(std::uint8_t byte, sim_clock::time_point at) {
    record(received_kind::raw_byte, {byte}, at);
    std::string echo;
    if (terminal_.take(byte, echo)) {
        view_.mode = unit_mode::framed;
        reader_.reset();
        exit_streak_ = 0;
        trace_.note(at, "## received: back to interrupt mode (framed messages)");
    }
    if (!echo.empty()) {
        send_text(echo, at);
    }
}

void unit_core::on_raw(std::uint8_t byte, sim_clock::time_point at) {
    if (byte == enter_polling && exit_streak_ >= exits_before_polling) {
        view_.mode = unit_mode::polling;
        reader_.reset();
        terminal_.reset();
        exit_streak_ = 0;
        trace_.note(at, "R after LOADER_EXIT: polling mode (plain terminal)");
        send_text(unit_terminal::greeting(), at);
    }
    // Any other byte outside a frame ('#' from a PC that starts up, noise) is ignored.
}

void unit_core::on_message(const std::vector<std::uint8_t>& message, sim_clock::time_point at) {
    if (message.size() <= head_sub) {
        trace_.note(at, "message of %zu bytes has no SUB: ignored", message.size());
        return;
    }
    if (message[head_da] != unit_address) {
        trace_.note(at, "message for address %02X, not this unit: ignored",
                    unsigned{message[head_da]});
        return;
    }
    const std::uint8_t cmd = message[head_cmd];
    const std::uint8_t sub = message[head_sub];
    if (cmd != cmd_loader || sub != sub_byte(sub_code::LOADER_EXIT)) {
        exit_streak_ = 0;
    }
    if (cmd == cmd_reboot) {
        if (message.size() <= param_p1) {
            trace_.note(at, "REBOOT_REQ without P1: ignored");
        } else if (view_.booting) {
            trace_.note(at, "booting: REBOOT_REQ not taken");
        } else {
            start_boot(message[param_p1] & reboot_bank_mask, at, false);
        }
        return;
    }
    if (cmd != cmd_loader) {
        trace_.note(at, "CMD %02X is not a loader command: ignored", unsigned{cmd});
        return;
    }
    on_loader_request(message, at);
}

void unit_core::on_loader_request(const std::vector<std::uint8_t>& message,
                                  sim_clock::time_point at) {
    const auto sub = static_cast<sub_code>(message[head_sub]);
    if (sub == sub_code::KEEP_ALIVE) {
        ++view_.keep_alives;
        return;
    }
    if (sub == sub_code::LOADER_EXIT) {
        ++view_.loader_exits;
        ++exit_streak_;
        return;
    }
    if (view_.booting) {
        // A booting unit has no loader running to answer.
        trace_.note(at, "booting: %s not answered", message_name(message, false).c_str());
        return;
    }
    switch (sub) {
    case sub_code::BOOTINFO_REQ:
    case sub_code::SAFEMODE_REQ:
        send(bootinfo_answer(false, view_.current_bank), at);
        break;
    case sub_code::FLASH_INFO_REQ:
        send_flash_info(at);
        break;
    case sub_code::DL_REQ:
        on_dl_req(at);
        break;
    case sub_code::FIRMWARE_INFO:
        on_firmware_info(message, at);
        break;
    case sub_code::DL_DATA:
        on_dl_data(message, at);
        break;
    case sub_code::FILE_REQ:
        on_file_req(message, at);
        break;
    case sub_code::EEPROM_INFO_REQ:
        on_eeprom_info_req(message, at);
        break;
    case sub_code::LOG_REQ:
        on_log_req(message, at);
        break;
    default:
        trace_.note(at, "%s: unknown request, not answered",
                    message_name(message, false).c_str());
        break;
    }
}

// ---- Booting -------------------------------------------------------------------------------

void unit_core::start_boot(std::uint8_t target, sim_clock::time_point at, bool then_ready) {
    std::array<bool, bank_records> bootable{};
    for (std::size_t k = 0; k < bootable.size(); ++k) {
        bootable[k] = view_.memory.banks[k].bootable();
    }
    const std::vector<boot_report> plan =
        plan_boot(view_.current_bank, target, bootable, faults_.faults().boot_fail_to);
    trace_.note(at, "rebooting from bank %u to bank %u", unsigned{view_.current_bank},
                unsigned{target});
    view_.booting = true;
    ready_after_boot_ = then_ready;
    sim_clock::time_point due = at;
    for (const boot_report& report : plan) {
        due += boot_delay_;
        boot_steps_.push_back({due, report, target});
    }
}

void unit_core::run_timers(sim_clock::time_point until) {
    while (!boot_steps_.empty() && boot_steps_.front().due <= until) {
        const pending_report step = boot_steps_.front();
        boot_steps_.pop_front();
        on_boot_report(step);
    }
}

std::optional<sim_clock::time_point> unit_core::next_timer() const {
    if (boot_steps_.empty()) {
        return std::nullopt;
    }
    return boot_steps_.front().due;
}

void unit_core::on_boot_report(const pending_report& step) {
    const std::uint8_t bank = step.report.bank;
    view_.current_bank = bank;
    if (step.report.failed) {
        log_event(step.due, "boot bank " + std::to_string(step.target) + " failed, running bank " +
                                std::to_string(bank));
    } else {
        log_event(step.due, "boot bank " + std::to_string(bank));
    }
    if (boot_steps_.empty()) {
        view_.booting = false;
    }
    if (ready_after_boot_) {
        // A boot for a download is answered by DL_READY alone, not by a boot report.
        if (!view_.booting) {
            ready_after_boot_ = false;
            send(unit_answer(sub_code::DL_READY, {}), step.due);
        }
        return;
    }
    send(bootinfo_answer(step.report.failed, bank), step.due);
}

// ---- Download ------------------------------------------------------------------------------

void unit_core::on_dl_req(sim_clock::time_point at) {
    download_.refuse("no FIRMWARE_INFO since DL_REQ");
    if (view_.current_bank == loader_bank) {
        send(unit_answer(sub_code::DL_READY, {}), at);
    } else {
        // Downloads are taken by the boot loader only: boot it first.
        start_boot(loader_bank, at, true);
    }
}

void unit_core::on_firmware_info(std::span<const std::uint8_t> message,
                                 sim_clock::time_point at) {
    if (view_.current_bank != loader_bank) {
        trace_.note(at, "FIRMWARE_INFO outside the boot loader: not answered");
        return;
    }
    if (message.size() < firmware_info_size) {
        trace_.note(at, "FIRMWARE_INFO of %zu bytes is too short: not answered", message.size());
        return;
    }
    std::string reason;
    if (std::optional<download_description> d = parse_firmware_info(message, reason)) {
        trace_.note(at, "download of \"%s\", %u bytes, to %s", d->file_name.c_str(),
                    static_cast<unsigned>(d->file_size),
                    store_text(d->file_type, d->index).c_str());
        download_.begin(std::move(*d));
    } else {
        // The record is acknowledged; the first chunk then gets DL_FAIL.
        trace_.note(at, "download refused: %s", reason.c_str());
        download_.refuse("refused: " + reason);
    }
    send(unit_answer(sub_code::FIRMWARE_INFO_ACK, {}), at);
}

void unit_core::on_dl_data(std::span<const std::uint8_t> message, sim_clock::time_point at) {
    const std::uint16_t chunk = message.size() >= dl_data_at::data_length
                                    ? get_be16(message.data() + dl_data_at::chunk_number)
                                    : 0;
    if (view_.current_bank != loader_bank) {
        trace_.note(at, "DL_DATA outside the boot loader: DL_FAIL");
        send(chunk_answer(true, chunk), at);
        return;
    }
    const std::optional<std::uint16_t> fail_at = faults_.faults().dl_fail_at_chunk;
    if (fail_at.has_value() && *fail_at == chunk) {
        trace_.note(at, "fault: DL_FAIL at chunk %u", unsigned{chunk});
        download_.refuse("download ended by an injected DL_FAIL");
        send(chunk_answer(true, chunk), at);
        return;
    }
    const download_session::chunk_result result = download_.take_chunk(message);
    switch (result.what) {
    case download_session::verdict::stored:
        break;
    case download_session::verdict::repeated:
        trace_.note(at, "chunk %u again: acknowledged, not stored twice", unsigned{result.chunk});
        break;
    case download_session::verdict::complete: {
        download_description d = download_.description();
        std::vector<std::uint8_t> content = download_.content();
        if (const std::optional<std::uint32_t> bad = faults_.faults().corrupt_stored_byte;
            bad && *bad < content.size()) {
            content[*bad] = static_cast<std::uint8_t>(~content[*bad]);
            d.file_crc = crc32_file(content.data(), content.size(), 0xFFFFFFFFU);
        }
        if (store_download(view_.memory, d, content)) {
            trace_.note(at, "stored \"%s\" in %s: %zu bytes, CRC-32 %08X", d.file_name.c_str(),
                        store_text(d.file_type, d.index).c_str(), download_.content().size(),
                        static_cast<unsigned>(d.file_crc));
            log_event(at, "download " + store_text(d.file_type, d.index));
        }
        break;
    }
    case download_session::verdict::failed:
        trace_.note(at, "DL_FAIL: %s", result.reason.c_str());
        break;
    }
    send(chunk_answer(result.what == download_session::verdict::failed, result.chunk), at);
}

// ---- Files, EEPROMs, log and flash information ---------------------------------------------

void unit_core::on_file_req(std::span<const std::uint8_t> message, sim_clock::time_point at) {
    if (message.size() < file_req_size) {
        trace_.note(at, "FILE_REQ of %zu bytes is too short: not answered", message.size());
        return;
    }
    const std::uint8_t index = message[file_req_at::index];
    const std::uint8_t type = message[file_req_at::file_type];
    const std::uint16_t block_size = get_be16(message.data() + file_req_at::block_size);
    const std::uint16_t block = get_be16(message.data() + file_req_at::block_number);
    const auto number = static_cast<std::uint8_t>(block);

    const auto refuse = [&](file_error error, std::size_t size, const char* why) {
        trace_.note(at, "FILE_FAILED for block %u: %s", unsigned{block}, why);
        send(file_failed_answer(error, static_cast<std::uint32_t>(size), type, number), at);
    };
    if (faults_.faults().file_failed) {
        refuse(file_error::injected, 0, "fault");
        return;
    }
    if (view_.current_bank != loader_bank) {
        refuse(file_error::not_in_loader, 0, "files are served by the boot loader only");
        return;
    }
    const std::vector<std::uint8_t>* file = nullptr;
    if (const stored_image* image = view_.memory.image(index, type)) {
        if (!image->valid()) {
            refuse(file_error::no_image, 0, "no valid image");
            return;
        }
        file = &image->content;
    } else if (const eeprom_device* device = view_.memory.eeprom(type, index)) {
        file = &device->content;
    } else {
        refuse(file_error::bad_request, 0, "no such bank, channel or file type");
        return;
    }
    if (block_size == 0 || block_size > block_data_capacity) {
        refuse(file_error::bad_request, file->size(), "unusable block size");
        return;
    }
    if (std::size_t{block} * block_size >= file->size()) {
        refuse(file_error::past_end, file->size(), "past the end of the file");
        return;
    }
    std::uint16_t label = block;
    if (faults_.take_wrong_block()) {
        label = static_cast<std::uint16_t>(block + 1);
        trace_.note(at, "fault: FILE_ACK for block %u says block %u", unsigned{block},
                    unsigned{label});
    }
    message_t answer = file_ack_answer(block, block_size, *file);
    if (faults_.take_block_damage(block)) {
        // Only bytes of the file, never the fill after its end, which a reader drops.
        const std::size_t file_bytes =
            std::min<std::size_t>(block_size, file->size() - std::size_t{block} * block_size);
        if (const std::optional<std::size_t> hit = damage_file_block(answer, file_bytes)) {
            ++view_.answers_damaged;
            trace_.note(at, "fault: FILE_ACK of block %u has bit 7 of data byte %zu flipped",
                        unsigned{block}, *hit - file_ack_at::data);
        }
    }
    if (label != block) {
        // The data stay those of the block asked for; only the number is wrong.
        put_be16(answer.data() + file_ack_at::block_number, label);
    }
    send(std::move(answer), at);
}

void unit_core::on_eeprom_info_req(std::span<const std::uint8_t> message,
                                   sim_clock::time_point at) {
    if (message.size() <= eeprom_info_req_at::channel) {
        trace_.note(at, "EEPROM_INFO_REQ of %zu bytes is too short: not answered",
                    message.size());
        return;
    }
    const std::uint8_t type = message[eeprom_info_req_at::file_type];
    const std::uint8_t channel = message[eeprom_info_req_at::channel];
    if (const eeprom_device* device = view_.memory.eeprom(type, channel)) {
        message_t answer = eeprom_ack_answer(type, channel, device->content);
        std::uint8_t* crc = answer.data() + eeprom_ack_at::file_crc;
        put_be32(crc, faults_.reported_crc(get_be32(crc)));
        const sim_faults& faults = faults_.faults();
        if (faults.reported_size) {
            put_be32(answer.data() + eeprom_ack_at::file_size, *faults.reported_size);
        }
        if (faults.eeprom_ack_names) {
            answer[eeprom_ack_at::file_type] = faults.eeprom_ack_names->first;
            answer[eeprom_ack_at::channel] = faults.eeprom_ack_names->second;
            trace_.note(at, "fault: EEPROM_ACK names type %u, channel index %u",
                        unsigned{faults.eeprom_ack_names->first},
                        unsigned{faults.eeprom_ack_names->second});
        }
        send(std::move(answer), at);
        return;
    }
    trace_.note(at, "no EEPROM of type %u, channel index %u: FILE_FAILED", unsigned{type},
                unsigned{channel});
    send(file_failed_answer(file_error::bad_request, 0, type, channel), at);
}

void unit_core::on_log_req(std::span<const std::uint8_t> message, sim_clock::time_point at) {
    if (message.size() <= log_req_at::block) {
        trace_.note(at, "LOG_REQ without a block number: not answered");
        return;
    }
    const std::uint8_t block = message[log_req_at::block];
    if (block >= unit_log_blocks) {
        trace_.note(at, "the log has no block %u: not answered", unsigned{block});
        return;
    }
    message_t answer = log_answer(view_.memory.log, block);
    // A block that holds no entry has nothing to damage and leaves the count alone.
    if (std::size_t{block} * unit_log_block_entries < view_.memory.log.entries.size() &&
        faults_.take_log_damage(block)) {
        if (const std::optional<std::size_t> hit = damage_log_block(answer)) {
            ++view_.answers_damaged;
            trace_.note(at, "fault: MESSAGE_LOG_ACK of block %u has bit 7 of byte %zu flipped",
                        unsigned{block}, *hit);
        }
    }
    send(std::move(answer), at);
}

void unit_core::send_flash_info(sim_clock::time_point at) {
    for (std::size_t k = 0; k < view_.memory.banks.size(); ++k) {
        // The records as reported, without the images' contents, which FLASH_INFO never holds.
        const flash_bank& stored = view_.memory.banks[k];
        flash_bank reported;
        reported.fpga.descriptor = stored.fpga.descriptor;
        reported.fpga.notes = stored.fpga.notes;
        reported.software.descriptor = stored.software.descriptor;
        reported.software.notes = stored.software.notes;
        for (stored_image* image : {&reported.fpga, &reported.software}) {
            image->descriptor.crc = faults_.reported_crc(image->descriptor.crc);
            if (faults_.faults().reported_size && image->valid()) {
                image->descriptor.size = *faults_.faults().reported_size;
            }
        }
        message_t answer = flash_info_answer(k, reported);
        if (faults_.take_bank_record_loss(k)) {
            ++view_.answers_dropped;
            trace_.sent(answer, at, "fault: bank record lost");
            continue;
        }
        send(std::move(answer), at);
    }
}

// ---- Sending -------------------------------------------------------------------------------

void unit_core::send(message_t message, sim_clock::time_point at) {
    if (!view_.port_open) {
        // Nothing to send on, and no fault is drawn for it.
        trace_.sent(message, at, "port pulled: not sent");
        return;
    }
    std::vector<std::uint8_t> frame;
    switch (faults_.frame_answer(message, frame)) {
    case fault_injector::fate::silenced:
        ++view_.answers_dropped;
        trace_.sent(message, at, "silent: not sent");
        return;
    case fault_injector::fate::dropped:
        ++view_.answers_dropped;
        trace_.sent(message, at, "fault: dropped");
        return;
    case fault_injector::fate::corrupted:
        ++view_.answers_corrupted;
        trace_.sent(message, at, "fault: corrupted");
        break;
    case fault_injector::fate::sent:
        trace_.sent(message, at);
        break;
    }
    ++view_.answers_sent;
    put_on_line(std::move(frame), at);
}

void unit_core::send_text(const std::string& text, sim_clock::time_point at) {
    if (faults_.faults().silent || !view_.port_open) {
        return;
    }
    put_on_line(std::vector<std::uint8_t>(text.begin(), text.end()), at);
}

void unit_core::put_on_line(std::vector<std::uint8_t> bytes, sim_clock::time_point at) {
    const std::size_t sent = bytes.size();
    const fault_injector::noise_hits hits = faults_.line_noise(bytes);
    if (hits.any()) {
        view_.line_bits_flipped += static_cast<unsigned>(hits.bits_flipped);
        view_.line_bytes_lost += static_cast<unsigned>(hits.bytes_lost);
        trace_.note(at, "line noise: %zu of %zu bytes flipped, %zu lost", hits.bits_flipped, sent,
                    hits.bytes_lost);
    }
    if (!bytes.empty()) {
        output_.push_back({at, std::move(bytes)});
    }
}

std::vector<timed_bytes> unit_core::take_output() {
    std::vector<timed_bytes> out;
    out.swap(output_);
    return out;
}

void unit_core::log_event(sim_clock::time_point at, const std::string& text) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(at - start_).count();
    view_.memory.log.add(unit_log_time(seconds) + " " + text);
}
