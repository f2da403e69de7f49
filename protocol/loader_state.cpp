// The bank records' start values and byte order.
#include "protocol/loader_state.h"

#include <cstring>

#include "link/byte_order.h"

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

void set_bank_start_values(bank_info_array& banks, bank_notes_array& notes) {
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

void terminate_note_texts(bank_notes& record) {
    for (image_notes* note : {&record.fpga, &record.software}) {
        note->user[sizeof note->user - 1] = '\0';
        note->comment[sizeof note->comment - 1] = '\0';
    }
}
