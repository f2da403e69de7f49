// Request templates, the DL_DATA block buffer and FIRMWARE_INFO packing.
#include "protocol/messages.h"

#include <span>

#include "link/byte_order.h"
#include "protocol/fixed_text.h"
#include "protocol/loader_state.h"

static_assert(flash_info_at::bank_notes == flash_info_at::bank_info + sizeof(bank_info));
static_assert(flash_info_at::bank_info_length ==
              flash_info_at::bank_info + sizeof(bank_info) - head_overhead);
static_assert(flash_info_at::max_length ==
              flash_info_at::bank_notes + sizeof(bank_notes) - head_overhead);
static_assert(firmware_info_at::comment + firmware_info_at::text_size == firmware_info_size - 1);
static_assert(default_chunk_size <= block_data_capacity);

namespace {

// No two messages may share a subcommand, the three further FLASH_INFO codes included.
constexpr bool sub_codes_distinct() {
    constexpr sub_code codes[] = {
        sub_code::REBOOT_REQ,   sub_code::KEEP_ALIVE,      sub_code::LOG_REQ,
        sub_code::LOADER_EXIT,  sub_code::FILE_REQ,        sub_code::DL_DATA,
        sub_code::FLASH_INFO_REQ, sub_code::BOOTINFO_REQ,  sub_code::FIRMWARE_INFO,
        sub_code::DL_REQ,       sub_code::SAFEMODE_REQ,    sub_code::EEPROM_INFO_REQ,
        sub_code::FILE_FAILED,  sub_code::MESSAGE_LOG_ACK, sub_code::FILE_ACK,
        sub_code::DL_ACK,       sub_code::DL_FAIL,         sub_code::FLASH_INFO,
        sub_code::BOOTINFO_ACK, sub_code::BOOTINFO_FAIL,   sub_code::FIRMWARE_INFO_ACK,
        sub_code::DL_READY,     sub_code::EEPROM_ACK,
    };
    bool seen[256] = {};
    for (sub_code code : codes) {
        const std::size_t width = code == sub_code::FLASH_INFO ? bank_count : 1;
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t value = sub_byte(code) + k;
            if (seen[value]) return false;
            seen[value] = true;
        }
    }
    return true;
}
static_assert(sub_codes_distinct(), "two messages share a subcommand");

// Writes DA, SA, the length field of a message of n bytes, CMD and SUB.
constexpr void write_head(std::uint8_t* message, std::size_t n, std::uint8_t cmd, sub_code sub) {
    const std::uint16_t length = message_length_field(n);
    message[head_da] = unit_address;
    message[head_sa] = pc_address;
    message[head_length] = static_cast<std::uint8_t>(length >> 8);
    message[head_length + 1] = static_cast<std::uint8_t>(length);
    message[head_cmd] = cmd;
    message[head_sub] = sub_byte(sub);
}

// A request of N bytes with its head filled and every parameter 0.
template <std::size_t N>
constexpr message_bytes<N> request_head(std::uint8_t cmd, sub_code sub) {
    message_bytes<N> message{};
    write_head(message.data(), N, cmd, sub);
    return message;
}

constexpr request_templates make_templates() {
    request_templates t{};
    t.reboot_req = request_head<short_request_size>(cmd_reboot, sub_code::REBOOT_REQ);
    t.reboot_req[param_p1] = reboot_p1_template;
    t.keep_alive = request_head<short_request_size>(cmd_loader, sub_code::KEEP_ALIVE);
    t.log_req = request_head<short_request_size>(cmd_loader, sub_code::LOG_REQ);
    t.loader_exit = request_head<short_request_size>(cmd_loader, sub_code::LOADER_EXIT);
    t.file_req = request_head<file_req_size>(cmd_loader, sub_code::FILE_REQ);
    t.flash_info_req = request_head<short_request_size>(cmd_loader, sub_code::FLASH_INFO_REQ);
    t.bootinfo_req = request_head<short_request_size>(cmd_loader, sub_code::BOOTINFO_REQ);
    t.dl_req = request_head<short_request_size>(cmd_loader, sub_code::DL_REQ);
    t.safemode_req = request_head<short_request_size>(cmd_loader, sub_code::SAFEMODE_REQ);
    t.eeprom_info_req = request_head<eeprom_info_req_size>(cmd_loader, sub_code::EEPROM_INFO_REQ);
    t.firmware_info = request_head<firmware_info_size>(cmd_loader, sub_code::FIRMWARE_INFO);
    t.firmware_info[firmware_info_at::chunk_size] =
        static_cast<std::uint8_t>(default_chunk_size >> 8);
    t.firmware_info[firmware_info_at::chunk_size + 1] = static_cast<std::uint8_t>(default_chunk_size);
    return t;
}

// The DL_DATA message for chunks of chunk_size bytes, chunk 0, data area zero.
constexpr dl_data_buffer make_block_buffer(std::uint32_t chunk_size) {
    dl_data_buffer buffer{};
    write_head(buffer.bytes.data(), dl_data_head_size + chunk_size, cmd_loader, sub_code::DL_DATA);
    buffer.bytes[dl_data_at::data_length] = static_cast<std::uint8_t>(chunk_size >> 8);
    buffer.bytes[dl_data_at::data_length + 1] = static_cast<std::uint8_t>(chunk_size);
    return buffer;
}

template <std::size_t Offset, std::size_t N>
std::span<std::uint8_t, firmware_info_at::text_size> text_slot(message_bytes<N>& message) {
    static_assert(Offset + firmware_info_at::text_size <= N);
    return std::span<std::uint8_t, firmware_info_at::text_size>(message.data() + Offset,
                                                                firmware_info_at::text_size);
}

}  // namespace

request_templates start_request_templates() { return make_templates(); }

dl_data_buffer start_block_buffer() { return make_block_buffer(default_chunk_size); }

void pack_firmware_info(message_bytes<firmware_info_size>& message,
                        const firmware_operation_record& operation) {
    message = request_head<firmware_info_size>(cmd_loader, sub_code::FIRMWARE_INFO);
    message[firmware_info_at::file_type] = operation.file_type;
    put_be16(message.data() + firmware_info_at::chunk_size,
             static_cast<std::uint16_t>(operation.chunk_size));
    put_be32(message.data() + firmware_info_at::file_size, operation.file_size);
    put_be32(message.data() + firmware_info_at::file_crc, operation.file_crc);
    message[firmware_info_at::bank] = operation.bank;
    put_text_field(text_slot<firmware_info_at::download_time>(message),
                   operation.download_time.view());
    put_text_field(text_slot<firmware_info_at::file_time>(message), operation.file_time.view());
    put_text_field(text_slot<firmware_info_at::file_name>(message), operation.file_name.view());
    put_text_field(text_slot<firmware_info_at::user>(message), operation.user.view());
    put_text_field(text_slot<firmware_info_at::comment>(message), operation.comment.view());
}

std::uint16_t dl_data_buffer::chunk_number() const noexcept {
    return get_be16(bytes.data() + dl_data_at::chunk_number);
}

void dl_data_buffer::set_chunk_number(std::uint16_t number) noexcept {
    put_be16(bytes.data() + dl_data_at::chunk_number, number);
}

std::uint16_t dl_data_buffer::data_length() const noexcept {
    return get_be16(bytes.data() + dl_data_at::data_length);
}

void dl_data_buffer::set_data_length(std::uint16_t length) noexcept {
    put_be16(bytes.data() + dl_data_at::data_length, length);
}

std::size_t dl_data_buffer::message_size() const noexcept {
    const std::size_t size = ::message_size(get_be16(bytes.data() + head_length));
    return size < bytes.size() ? size : bytes.size();
}

bool fill_transfer_heads(request_templates& requests, dl_data_buffer& block,
                         std::uint32_t chunk_size) {
    if (chunk_size == 0 || chunk_size > block_data_capacity) return false;
    const auto chunk = static_cast<std::uint16_t>(chunk_size);
    write_head(requests.firmware_info.data(), firmware_info_size, cmd_loader,
               sub_code::FIRMWARE_INFO);
    put_be16(requests.firmware_info.data() + firmware_info_at::chunk_size, chunk);
    write_head(block.bytes.data(), dl_data_head_size + chunk, cmd_loader, sub_code::DL_DATA);
    block.set_data_length(chunk);
    return true;
}
