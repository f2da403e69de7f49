// The loader's message catalogue: addresses and codes of every request and answer, the byte
// offsets of their fields, the prebuilt request templates, the DL_DATA block buffer, the
// packing of FIRMWARE_INFO. The file types and the names of fetched files are files/file_types.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "files/file_types.h"

struct firmware_operation_record;

// ---- Addresses and commands --------------------------------------------------------------

inline constexpr std::uint8_t unit_address = 0x2A;  // DA of every request; the only SA accepted
inline constexpr std::uint8_t pc_address = 0x10;    // SA of every request
inline constexpr std::uint8_t cmd_loader = 0x55;    // CMD of every loader message
inline constexpr std::uint8_t cmd_reboot = 0x48;    // CMD of REBOOT_REQ alone

// Subcommands in both directions (byte 5). FLASH_INFO is the first of four consecutive codes,
// one per bank.
enum class sub_code : std::uint8_t {
    // PC to unit
    REBOOT_REQ = 0x00,
    KEEP_ALIVE = 0x04,
    LOG_REQ = 0x05,
    LOADER_EXIT = 0x08,
    FILE_REQ = 0x09,
    DL_DATA = 0x11,
    FLASH_INFO_REQ = 0x14,
    BOOTINFO_REQ = 0x19,
    FIRMWARE_INFO = 0x1C,
    DL_REQ = 0x1F,
    SAFEMODE_REQ = 0x20,
    EEPROM_INFO_REQ = 0x21,
    // unit to PC
    FILE_FAILED = 0x03,
    MESSAGE_LOG_ACK = 0x06,
    FILE_ACK = 0x10,
    DL_ACK = 0x12,
    DL_FAIL = 0x13,
    FLASH_INFO = 0x15,
    BOOTINFO_ACK = 0x1A,
    BOOTINFO_FAIL = 0x1B,
    FIRMWARE_INFO_ACK = 0x1D,
    DL_READY = 0x1E,
    EEPROM_ACK = 0x22,
};

constexpr std::uint8_t sub_byte(sub_code code) noexcept { return static_cast<std::uint8_t>(code); }

inline constexpr std::size_t bank_count = 4;

// FLASH_INFO of bank b carries SUB FLASH_INFO + b.
constexpr bool is_flash_info(std::uint8_t sub) noexcept {
    return sub >= sub_byte(sub_code::FLASH_INFO) && sub < sub_byte(sub_code::FLASH_INFO) + bank_count;
}
constexpr std::size_t flash_info_bank(std::uint8_t sub) noexcept {
    return static_cast<std::size_t>(sub - sub_byte(sub_code::FLASH_INFO));
}

// ---- Message head ------------------------------------------------------------------------

inline constexpr std::size_t head_da = 0;      // destination address
inline constexpr std::size_t head_sa = 1;      // source address
inline constexpr std::size_t head_length = 2;  // bytes 2-3: bytes after CMD, big-endian
inline constexpr std::size_t head_cmd = 4;
inline constexpr std::size_t head_sub = 5;
inline constexpr std::size_t param_p1 = 6;
inline constexpr std::size_t param_p2 = 7;
inline constexpr std::size_t param_p3 = 8;
inline constexpr std::size_t head_overhead = 5;  // DA, SA, length and CMD: not in the length field

// The length field of a message of n bytes, and the size of a message from its length field.
constexpr std::uint16_t message_length_field(std::size_t n) noexcept {
    return static_cast<std::uint16_t>(n < head_overhead ? 0 : n - head_overhead);
}
constexpr std::size_t message_size(std::uint16_t length_field) noexcept {
    return std::size_t{length_field} + head_overhead;
}

// ---- Request sizes and parameters --------------------------------------------------------

inline constexpr std::size_t short_request_size = 7;  // REBOOT_REQ, KEEP_ALIVE, LOG_REQ, ...
inline constexpr std::size_t file_req_size = 12;
inline constexpr std::size_t eeprom_info_req_size = 9;
inline constexpr std::size_t firmware_info_size = 152;
inline constexpr std::size_t dl_data_head_size = 10;      // head, chunk number, valid length
inline constexpr std::size_t block_data_capacity = 1024;  // data area of block_buffer
inline constexpr std::uint32_t default_chunk_size = 512;  // block size of every transfer

// REBOOT_REQ: P1 is the template value 0x80 with the target bank in its two low bits.
inline constexpr std::uint8_t reboot_p1_template = 0x80;
inline constexpr std::uint8_t reboot_bank_mask = 0x03;

namespace log_req_at {
inline constexpr std::size_t block = 6;  // P1: log block number
}

namespace file_req_at {
inline constexpr std::size_t index = 6;         // P1: bank or EEPROM channel index
inline constexpr std::size_t file_type = 7;     // P2
inline constexpr std::size_t block_size = 8;    // P3-P4, big-endian
inline constexpr std::size_t block_number = 10; // P5-P6, big-endian
}

namespace eeprom_info_req_at {
inline constexpr std::size_t file_type = 6;  // P1: 3 to 6
inline constexpr std::size_t channel = 7;    // P2: channel index 0 to 3
}

namespace dl_data_at {
inline constexpr std::size_t chunk_number = 6;  // P1-P2, big-endian
inline constexpr std::size_t data_length = 8;   // P3-P4: valid bytes in this chunk, big-endian
inline constexpr std::size_t data = 10;         // chunk_size data bytes
}

// FIRMWARE_INFO: what the unit records about the file that follows.
namespace firmware_info_at {
inline constexpr std::size_t file_type = 7;
inline constexpr std::size_t chunk_size = 8;   // big-endian, 16 bits
inline constexpr std::size_t file_size = 12;   // big-endian, 32 bits
inline constexpr std::size_t file_crc = 16;    // big-endian, 32 bits
inline constexpr std::size_t bank = 20;        // bank or channel index
inline constexpr std::size_t download_time = 21;
inline constexpr std::size_t file_time = 47;
inline constexpr std::size_t file_name = 73;
inline constexpr std::size_t user = 99;
inline constexpr std::size_t comment = 125;
inline constexpr std::size_t text_size = 26;   // each text: at most 25 characters and a NUL
}

// ---- Answer parameters -------------------------------------------------------------------
// Each `end` is the size of a message that holds every fixed parameter.

namespace file_failed_at {
inline constexpr std::size_t error = 6;   // P1: error code
inline constexpr std::size_t size = 7;    // P2-P5: size, big-endian
inline constexpr std::size_t type = 11;   // P6: file type
inline constexpr std::size_t number = 12; // P7
inline constexpr std::size_t end = 13;
}

namespace message_log_ack_at {
inline constexpr std::size_t entry_count = 6;   // P1: valid entries in the whole log
inline constexpr std::size_t entry_length = 7;  // P2: bytes per entry
inline constexpr std::size_t max_entries = 8;   // P3: total entry capacity
inline constexpr std::size_t seq_no = 9;        // P4: block number
inline constexpr std::size_t seq_no_size = 10;  // P5: entries in this block
inline constexpr std::size_t entries = 11;      // P5 x P2 bytes of entries
}

namespace file_ack_at {
inline constexpr std::size_t block_number = 6;  // P1-P2, big-endian
inline constexpr std::size_t data_length = 8;   // P3-P4, big-endian
inline constexpr std::size_t data = 10;
}

namespace dl_ack_at {  // DL_ACK and DL_FAIL, both only traced
inline constexpr std::size_t p1 = 6;
inline constexpr std::size_t p2 = 7;
}

// FLASH_INFO: P1-P2 unused, then bank_info and, in a long message, bank_notes. The thresholds
// are values of the length field.
namespace flash_info_at {
inline constexpr std::size_t bank_info = 8;
inline constexpr std::size_t bank_notes = 200;
inline constexpr std::uint16_t min_length = 3;          // SUB, P1, P2
inline constexpr std::uint16_t bank_info_length = 195;  // up to the end of bank_info
inline constexpr std::uint16_t max_length = 411;        // up to the end of bank_notes
}

namespace bootinfo_at {  // BOOTINFO_ACK and BOOTINFO_FAIL
inline constexpr std::size_t bank = 6;  // P1: the bank the unit runs from now
}

namespace eeprom_ack_at {
inline constexpr std::size_t file_type = 6;  // P1
inline constexpr std::size_t channel = 7;    // P2: channel index
inline constexpr std::size_t file_size = 8;  // P3-P6, big-endian
inline constexpr std::size_t file_crc = 12;  // P7-P10, big-endian
inline constexpr std::size_t end = 16;
}

// ---- Request templates -------------------------------------------------------------------

template <std::size_t N>
using message_bytes = std::array<std::uint8_t, N>;

// Every request with DA, SA, length field, CMD and SUB filled and its parameters 0, except the
// P1 template of REBOOT_REQ. A sender writes the parameters that change and sends the whole.
struct request_templates {
    message_bytes<short_request_size> reboot_req;
    message_bytes<short_request_size> keep_alive;
    message_bytes<short_request_size> log_req;
    message_bytes<short_request_size> loader_exit;
    message_bytes<file_req_size> file_req;
    message_bytes<short_request_size> flash_info_req;
    message_bytes<short_request_size> bootinfo_req;
    message_bytes<short_request_size> dl_req;
    message_bytes<short_request_size> safemode_req;
    message_bytes<eeprom_info_req_size> eeprom_info_req;
    message_bytes<firmware_info_size> firmware_info;
};

// Every template as at program start.
request_templates start_request_templates();

// Writes every byte of a FIRMWARE_INFO message from the loader state: head, file type, chunk
// size, file size, CRC, bank, the five texts (each cut to 25 characters) and zero reserved bytes.
void pack_firmware_info(message_bytes<firmware_info_size>& message,
                        const firmware_operation_record& operation);

// ---- DL_DATA block buffer ----------------------------------------------------------------

// The DL_DATA message with room for the largest chunk. The chunk number and valid length are
// kept big-endian in the message, so the buffer goes out as it stands; the accessors convert.
struct dl_data_buffer {
    message_bytes<dl_data_head_size + block_data_capacity> bytes;

    std::uint16_t chunk_number() const noexcept;
    void set_chunk_number(std::uint16_t number) noexcept;
    std::uint16_t data_length() const noexcept;
    void set_data_length(std::uint16_t length) noexcept;

    std::uint8_t* data() noexcept { return bytes.data() + dl_data_at::data; }
    const std::uint8_t* data() const noexcept { return bytes.data() + dl_data_at::data; }
    std::uint8_t* message() noexcept { return bytes.data(); }
    const std::uint8_t* message() const noexcept { return bytes.data(); }
    // N of the DL_DATA message as its length field says, never more than the buffer holds.
    std::size_t message_size() const noexcept;
};

// The DL_DATA message for chunks of the default size, chunk 0, data area zero.
dl_data_buffer start_block_buffer();

// Fills the fixed head of the FIRMWARE_INFO template and of the DL_DATA buffer for chunks of
// chunk_size bytes (DL_DATA length field chunk_size + 5, valid length chunk_size). A size of 0
// or above the data area is refused and changes nothing.
bool fill_transfer_heads(request_templates& requests, dl_data_buffer& block,
                         std::uint32_t chunk_size);
