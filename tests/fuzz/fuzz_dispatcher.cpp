// The dispatcher (decode_answer) and the application of its answers to a unit in any loader
// state, fed any sequence of messages, each exactly as long as its length field says; the main
// loop's steps between messages (take_bank_reports, a new round of FLASH_INFO, flags consumed)
// and, at the end, the readers of what it stored (the bank table and the log listing). Nothing
// may read or write out of bounds or hit undefined behaviour.
//
// Input: verbose level; raised flags (bit 7: a round of FLASH_INFO begun); setup (bit 0: bank
// records and notes filled with the next bytes, bits 1-2: boot_status); then per message a mode
// byte, DA, [SA, CMD], SUB or its index in the list of answers, the length field and the payload
// (zeros when the input runs out).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "console/bank_table.h"
#include "console/log_listing.h"
#include "fuzz_input.h"
#include "protocol/bank_records.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/unit.h"
#include "support/fake_link.h"

namespace {

// Every SUB the unit answers with, and one it never sends.
constexpr std::array<std::uint8_t, 15> answer_subs = {0x03, 0x06, 0x10, 0x12, 0x13, 0x15, 0x16, 0x17,
                                                      0x18, 0x1A, 0x1B, 0x1D, 0x1E, 0x22, 0x04};

std::array<event_flag*, 7> event_flags(unit& u) {
    firmware_operation_record& f = u.op;
    return {&f.dl_ready,        &f.fwinfo_acked,   &f.chunk_acked, &f.chunk_failed,
            &f.flash_info_done, &f.block_received, &f.file_failed};
}

void set_up_state(unit& u, fuzz_input& input) {
    u.op.verbose_level = input.byte();
    const std::uint8_t raised = input.byte();
    const auto flags = event_flags(u);
    for (std::size_t k = 0; k < flags.size(); ++k) {
        if ((raised >> k) & 1U) flags[k]->raise();
    }
    if (raised & 0x80U) begin_bank_round(u);
    const std::uint8_t setup = input.byte();
    if (setup & 1U) {
        input.fill(reinterpret_cast<std::uint8_t*>(u.banks.data()), sizeof u.banks);
        input.fill(reinterpret_cast<std::uint8_t*>(u.notes.data()), sizeof u.notes);
    }
    u.op.boot_status = static_cast<std::uint8_t>((setup >> 1) & 3U);
}

// One message as the receiver hands it on: length + 5 bytes, SA, CMD and SUB passed beside.
void dispatch_one(unit& u, fuzz_input& input) {
    const std::uint8_t mode = input.byte();
    const std::uint8_t da = input.byte();
    // Mostly an answer of the unit, so that the handlers are reached.
    const bool loader = (mode & 3U) != 0;
    const std::uint8_t sa = loader ? unit_address : input.byte();
    const std::uint8_t cmd = loader ? cmd_loader : input.byte();
    const std::uint8_t sub_byte = input.byte();
    const std::uint8_t sub =
        (mode & 0x0CU) != 0 ? answer_subs[sub_byte % answer_subs.size()] : sub_byte;
    const std::uint16_t raw_length = input.u16();
    const std::uint16_t length = (mode & 0x10U) != 0 ? raw_length : raw_length & 0x7FFU;

    if (mode & 0x20U) begin_bank_round(u);
    if (mode & 0x40U) {
        for (event_flag* flag : event_flags(u)) flag->clear();
        u.op.boot_status = boot_status_none;
    }

    std::vector<std::uint8_t> message(message_size(length));
    message[head_da] = da;
    message[head_sa] = sa;
    message[head_length] = static_cast<std::uint8_t>(length >> 8);
    message[head_length + 1] = static_cast<std::uint8_t>(length);
    message[head_cmd] = cmd;
    if (message.size() > head_sub) {
        message[head_sub] = sub;
        input.fill(message.data() + param_p1, message.size() - param_p1);
    }
    if (const std::optional<answer> a =
            decode_answer(message.data(), length, sa, cmd, sub, u.op.verbose_level)) {
        apply_answer(u, *a);
    }
    take_bank_reports(u);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    fuzz_input input(data, size);
    captured_link link;
    unit u(link);
    set_up_state(u, input);
    while (!input.empty()) dispatch_one(u, input);

    print_bank_info(u);
    print_log_entries(u.log_report.entry_count, u.log_buffer.data(), u.log_report.entry_length,
                      u.log_buffer.size());
    return 0;
}
