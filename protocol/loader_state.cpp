// The program-wide loader state, the bank records and the log area, with their start values.
#include "protocol/loader_state.h"

#include <cstring>
#include <memory>

#include "link/byte_order.h"
#include "link/crc.h"
#include "protocol/messages.h"

// Not constinit: clang 14 cannot evaluate the std::string member's constructor at compile time.
// No static initializer reads the record, so it is ready before anything uses it.
firmware_operation_record firmware_operation{};
std::array<bank_info, bank_records> banks{};
std::array<bank_notes, bank_records> notes{};
std::array<std::uint8_t, log_buffer_size> log_buffer{};
log_block_report log_report{};

namespace {

constexpr std::uint32_t first_flash_address = 0x86000000u;
constexpr std::uint32_t bank_span = 0x800000u;        // 8 MiB per bank
constexpr std::uint32_t software_offset = 0x200000u;  // software image 2 MiB into the bank

// Reads a word that holds its bytes in wire order and returns its value. Going through the
// bytes makes the result right on a host of either byte order.
std::uint32_t from_wire(std::uint32_t word) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    return get_be32(bytes);
}

void descriptor_to_host_order(image_descriptor& descriptor) {
    descriptor.flash_address = from_wire(descriptor.flash_address);
    descriptor.crc = from_wire(descriptor.crc);
    descriptor.size = from_wire(descriptor.size);
}

}  // namespace

void set_bank_start_values() {
    for (std::size_t k = 0; k < bank_records; ++k) {
        bank_info record{};
        record.fpga.status = 1;
        record.fpga.flash_address = first_flash_address + static_cast<std::uint32_t>(k) * bank_span;
        record.software.status = 1;
        record.software.flash_address = record.fpga.flash_address + software_offset;
        banks[k] = record;
        notes[k] = bank_notes{};
    }
}

void bank_info_to_host_order(bank_info& record) {
    descriptor_to_host_order(record.fpga);
    descriptor_to_host_order(record.software);
}

void banks_to_host_order() {
    for (bank_info& record : banks) bank_info_to_host_order(record);
}

void terminate_note_texts(bank_notes& record) {
    for (image_notes* note : {&record.fpga, &record.software}) {
        note->user[sizeof note->user - 1] = '\0';
        note->comment[sizeof note->comment - 1] = '\0';
    }
}

void reset_firmware_operation() {
    std::destroy_at(&firmware_operation);
    std::construct_at(&firmware_operation);
}

void reset_log_area() {
    log_buffer.fill(0);
    log_report = log_block_report{};
}

bool init_loader_tables(std::uint32_t chunk_size) {
    crc32_file_init();
    set_bank_start_values();
    return fill_transfer_heads(chunk_size);
}
