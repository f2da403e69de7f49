#include "tools/unit_sim/sim_answers.h"

#include <algorithm>
#include <cstring>

#include "link/byte_order.h"
#include "link/crc.h"

namespace {

constexpr std::uint8_t erased_flash = 0xFF;
constexpr std::size_t answer_min_params = 2;  // P1 and P2 complete the 8-byte head

// make_message lays the head out in this order.
static_assert(head_da == 0 && head_sa == 1 && head_length == 2 && head_cmd == 4 &&
              head_sub == 5 && param_p1 == 6);

}  // namespace

message_t make_message(std::uint8_t da, std::uint8_t sa, std::uint8_t cmd, std::uint8_t sub,
                       std::span<const std::uint8_t> params) {
    // Built by appending: indexing a vector sized at run time makes the optimiser of g++ 12 warn
    // of a null pointer that cannot occur.
    const std::uint16_t length = message_length_field(param_p1 + params.size());
    message_t message;
    message.reserve(param_p1 + params.size());
    for (const std::uint8_t b : {da, sa, static_cast<std::uint8_t>(length >> 8),
                                 static_cast<std::uint8_t>(length), cmd, sub}) {
        message.push_back(b);
    }
    message.insert(message.end(), params.begin(), params.end());
    return message;
}

message_t unit_answer(sub_code sub, std::span<const std::uint8_t> params) {
    if (params.size() >= answer_min_params) {
        return make_message(pc_address, unit_address, cmd_loader, sub_byte(sub), params);
    }
    std::uint8_t padded[answer_min_params] = {};
    std::copy(params.begin(), params.end(), padded);
    return make_message(pc_address, unit_address, cmd_loader, sub_byte(sub), padded);
}

message_t unit_answer(sub_code sub, std::initializer_list<std::uint8_t> params) {
    return unit_answer(sub, std::span<const std::uint8_t>(params.begin(), params.size()));
}

message_t bootinfo_answer(bool failed, std::uint8_t bank) {
    return unit_answer(failed ? sub_code::BOOTINFO_FAIL : sub_code::BOOTINFO_ACK, {bank, 0});
}

message_t chunk_answer(bool failed, std::uint16_t chunk) {
    std::uint8_t params[2];
    put_be16(params, chunk);
    return unit_answer(failed ? sub_code::DL_FAIL : sub_code::DL_ACK, params);
}

message_t flash_info_answer(std::size_t bank_index, const flash_bank& bank) {
    std::vector<std::uint8_t> params(2 + sizeof(bank_info) + sizeof(bank_notes), 0);
    const auto info_bytes = wire_bank_info(bank);
    const auto note_bytes = wire_bank_notes(bank);
    std::copy(info_bytes.begin(), info_bytes.end(),
              params.begin() + (flash_info_at::bank_info - param_p1));
    std::copy(note_bytes.begin(), note_bytes.end(),
              params.begin() + (flash_info_at::bank_notes - param_p1));
    const auto sub = static_cast<sub_code>(sub_byte(sub_code::FLASH_INFO) + bank_index);
    return unit_answer(sub, params);
}

message_t file_ack_answer(std::uint16_t block, std::uint16_t block_size,
                          std::span<const std::uint8_t> file) {
    std::vector<std::uint8_t> params(4 + std::size_t{block_size}, erased_flash);
    put_be16(params.data(), block);
    put_be16(params.data() + 2, block_size);
    const std::size_t start = std::size_t{block} * block_size;
    if (start < file.size()) {
        const std::size_t count = std::min<std::size_t>(block_size, file.size() - start);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(start), count, params.begin() + 4);
    }
    return unit_answer(sub_code::FILE_ACK, params);
}

message_t file_failed_answer(file_error error, std::uint32_t size, std::uint8_t file_type,
                             std::uint8_t number) {
    std::uint8_t params[file_failed_at::end - param_p1] = {};
    params[file_failed_at::error - param_p1] = static_cast<std::uint8_t>(error);
    put_be32(params + (file_failed_at::size - param_p1), size);
    params[file_failed_at::type - param_p1] = file_type;
    params[file_failed_at::number - param_p1] = number;
    return unit_answer(sub_code::FILE_FAILED, params);
}

message_t eeprom_ack_answer(std::uint8_t file_type, std::uint8_t channel,
                            std::span<const std::uint8_t> content) {
    std::uint8_t params[eeprom_ack_at::end - param_p1] = {};
    params[eeprom_ack_at::file_type - param_p1] = file_type;
    params[eeprom_ack_at::channel - param_p1] = channel;
    put_be32(params + (eeprom_ack_at::file_size - param_p1),
             static_cast<std::uint32_t>(content.size()));
    put_be32(params + (eeprom_ack_at::file_crc - param_p1),
             crc32_file(content.data(), content.size(), 0xFFFFFFFFU));
    return unit_answer(sub_code::EEPROM_ACK, params);
}

message_t log_answer(const unit_log& log, std::uint8_t block) {
    constexpr std::size_t fixed = message_log_ack_at::entries - param_p1;
    std::vector<std::uint8_t> params(fixed + unit_log_block_entries * unit_log_entry_size, 0);
    params[message_log_ack_at::entry_count - param_p1] =
        static_cast<std::uint8_t>(log.entries.size());
    params[message_log_ack_at::entry_length - param_p1] = unit_log_entry_size;
    params[message_log_ack_at::max_entries - param_p1] = unit_log_capacity;
    params[message_log_ack_at::seq_no - param_p1] = block;
    params[message_log_ack_at::seq_no_size - param_p1] = unit_log_block_entries;
    for (std::size_t slot = 0; slot < unit_log_block_entries; ++slot) {
        const std::size_t entry = std::size_t{block} * unit_log_block_entries + slot;
        if (entry >= log.entries.size()) {
            break;
        }
        const std::string& text = log.entries[entry];
        const std::size_t count = std::min(text.size(), unit_log_entry_size - 1);
        std::memcpy(params.data() + fixed + slot * unit_log_entry_size, text.data(), count);
    }
    return unit_answer(sub_code::MESSAGE_LOG_ACK, params);
}
