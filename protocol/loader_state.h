// The loader's state of one unit: the operation record with its event flags and texts, the bank
// records the unit reports, and the log area's shape. Main thread only: the answers that change
// it arrive through the session's inbox and are applied by the session's loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/fixed_text.h"

// ---- Records the unit reports in FLASH_INFO ----------------------------------------------

// One image of a flash bank. The words arrive big-endian and stay so until
// bank_info_to_host_order() converts them; status is only ever tested against zero.
struct image_descriptor {
    std::uint32_t status;         // 0: the bank holds a valid image
    std::uint32_t flash_address;
    char download_date[26];
    char file_date[26];
    std::uint32_t crc;            // CRC-32 of the file; also the expected CRC of an upload
    std::uint32_t size;           // file size in bytes; also the size of an upload
    char file_name[28];
};

struct bank_info {
    image_descriptor fpga;      // FPGA image
    image_descriptor software;  // software image
};

struct image_notes {
    char user[26];
    char comment[26];
    std::uint8_t reserved[56];  // neither read nor shown
};

struct bank_notes {
    image_notes fpga;
    image_notes software;
};

static_assert(offsetof(image_descriptor, status) == 0);
static_assert(offsetof(image_descriptor, flash_address) == 4);
static_assert(offsetof(image_descriptor, download_date) == 8);
static_assert(offsetof(image_descriptor, file_date) == 34);
static_assert(offsetof(image_descriptor, crc) == 60);
static_assert(offsetof(image_descriptor, size) == 64);
static_assert(offsetof(image_descriptor, file_name) == 68);
static_assert(sizeof(image_descriptor) == 96);
static_assert(offsetof(bank_info, software) == 96 && sizeof(bank_info) == 192);
static_assert(offsetof(image_notes, comment) == 26 && offsetof(image_notes, reserved) == 52);
static_assert(sizeof(image_notes) == 108);
static_assert(offsetof(bank_notes, software) == 108 && sizeof(bank_notes) == 216);

inline constexpr std::size_t bank_records = 4;

using bank_info_array = std::array<bank_info, bank_records>;
using bank_notes_array = std::array<bank_notes, bank_records>;

// Start values: status 1 (no valid image) in both descriptors, FPGA flash address
// 0x86000000 + k x 0x800000 for bank k, software image 0x200000 above it, everything else 0.
// The notes are cleared.
void set_bank_start_values(bank_info_array& banks, bank_notes_array& notes);

// Converts flash address, CRC and size of both descriptors from wire order to host order.
// The status word is left as received.
void bank_info_to_host_order(bank_info& record);

// Ends each of the four texts of a received bank_notes with a NUL in its last byte.
void terminate_note_texts(bank_notes& record);

// ---- Event flags -------------------------------------------------------------------------

// A flag raised when an answer has been applied and cleared by the loop before it sends the
// request the flag answers.
class event_flag {
public:
    void raise() noexcept { value_ = true; }
    bool test() const noexcept { return value_; }
    void clear() noexcept { value_ = false; }

private:
    bool value_ = false;
};

// ---- The loader state --------------------------------------------------------------------

inline constexpr std::uint8_t link_not_connected = 0;
inline constexpr std::uint8_t link_connecting = 1;
inline constexpr std::uint8_t link_connected = 2;

inline constexpr std::uint8_t boot_status_none = 0;
inline constexpr std::uint8_t boot_status_ack = 1;   // a BOOTINFO_ACK arrived
inline constexpr std::uint8_t boot_status_fail = 2;  // a BOOTINFO_FAIL arrived

struct firmware_operation_record {
    std::uint8_t verbose_level = 0;              // traces print when it exceeds their threshold
    std::uint8_t safemode = 0;
    std::uint8_t first_bank = 1;                 // lowest bank a user may load or read
    std::uint8_t link_state = link_not_connected;
    std::uint8_t file_type = 0;                  // also set by EEPROM_ACK
    std::uint8_t bank = 0;                       // bank or EEPROM channel index
    std::uint32_t chunk_size = 512;              // block size of every transfer
    std::uint32_t file_size = 0;
    std::uint32_t file_crc = 0;
    std::uint32_t seq_no = 0;                    // next DL_DATA chunk to send
    std::uint32_t seq_count = 0;                 // chunks or blocks of the transfer
    std::uint32_t expected_seq = 0;              // next FILE_ACK or log block expected
    std::uint8_t boot_status = boot_status_none;  // consumers reset it to 0
    std::uint8_t current_bank = 0;               // bank named by the last boot report
    std::uint8_t boot_bank = 0;                  // bank asked for by the last REBOOT_REQ
    std::uint8_t active_bank = 0;
    std::uint8_t redraw_request = 0;             // 1: redraw after 3000 ms, other: at once
    int retry_count = 0;                         // retries since start, all states
    int batch_mode = 0;

    event_flag dl_ready;         // DL_READY
    event_flag fwinfo_acked;     // FIRMWARE_INFO_ACK
    event_flag chunk_acked;      // DL_ACK
    event_flag chunk_failed;     // DL_FAIL
    event_flag flash_info_done;  // FLASH_INFO of bank 3
    event_flag block_received;   // FILE_ACK or MESSAGE_LOG_ACK
    event_flag file_failed;      // FILE_FAILED

    fixed_text<60> file_name;  // as sent and shown: at most 25 characters
    std::string file_path;     // the chosen file's full name, under which it is opened
    fixed_text<26> download_time;
    fixed_text<26> file_time;
    fixed_text<26> output_folder;
    fixed_text<26> user;
    fixed_text<26> comment;

    std::uint32_t last_request_tick = 0;  // stamped by every request sent; time-outs count from it
    std::uint32_t last_send_tick = 0;     // stamped by every serial send; the keep-alive counts from it
};

// ---- Log area ----------------------------------------------------------------------------

inline constexpr std::size_t log_slots = 64;
inline constexpr std::size_t log_slot_size = 80;
inline constexpr std::size_t log_buffer_size = log_slots * log_slot_size;  // 5120

using log_area = std::array<std::uint8_t, log_buffer_size>;
