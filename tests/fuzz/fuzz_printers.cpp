// The bank table and the log listing over any records: bank records, notes and log bytes taken
// from the input, texts without their NUL included, any entry count and length, and a log area
// of any size up to the program's. Nothing may read past a record, a text field's slot or the
// log area, or hit undefined behaviour, and no control character of the unit's texts may reach
// the screen.
//
// Input: bit 0 of the first byte: a round of FLASH_INFO begun; count and entry length (signed
// 32 bits each); the log area's size (two bytes, up to the program's); the records and notes of
// the four banks; then the log bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/bank_table.h"
#include "console/log_listing.h"
#include "fuzz_input.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "support/fake_link.h"

namespace {

void keep_output(const char* data, std::size_t size, void* context) {
    static_cast<std::string*>(context)->append(data, size);
}

void silence_output_again() { out_set_sink(&discard_output, nullptr); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    captured_link link;
    unit u(link);
    fuzz_input input(data, size);
    if (input.byte() & 1U) begin_bank_round(u);
    const auto count = static_cast<int>(input.u32());
    const auto entry_length = static_cast<int>(input.u32());
    const std::size_t area = std::min<std::size_t>(input.u16(), log_buffer_size);
    input.fill(reinterpret_cast<std::uint8_t*>(u.banks.data()), sizeof u.banks);
    input.fill(reinterpret_cast<std::uint8_t*>(u.notes.data()), sizeof u.notes);
    // The log area on the heap at exactly its size, so that a read past it is caught.
    std::vector<std::uint8_t> log(area);
    input.fill(log.data(), log.size());

    std::string shown;
    out_set_sink(&keep_output, &shown);
    print_bank_info(u);
    print_log_entries(count, log.data(), entry_length, log.size());
    silence_output_again();
    // The unit's texts are shown, never obeyed: the only control characters on the screen are
    // the program's own line ends.
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\r') || byte == 0x7F) {
            std::fprintf(stderr, "fuzz_printers: control character 0x%02X reached the screen\n", byte);
            std::abort();
        }
    }
    return 0;
}
