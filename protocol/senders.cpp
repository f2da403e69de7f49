#include "protocol/senders.h"

#include "link/byte_order.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/waiting.h"

namespace {

// Keeps the first failure of the link; only a failure of the port itself counts, a message the
// link refuses (too long for a frame) is not sent and the run goes on as if it were lost.
result sent(unit& u, const result& outcome) {
    if (outcome.kind == result_kind::link_failed) {
        if (!u.link_failure) {
            u.link_failure = outcome;
        }
        return outcome;
    }
    return result::success();
}

// Every request but the keep-alive restarts the wait for an answer. The keep-alive answers no
// question: were it to restart the waits, a lost answer on the serial link would be waited for
// without end instead of being asked for again.
result send_message(unit& u, const std::uint8_t* message, std::size_t n, bool restarts_wait) {
    if (u.link_failure) {
        return *u.link_failure;
    }
    if (!u.link.carries_messages()) {
        // Remote access: the request is dropped; a waiting state retries once the mode is back.
        return result::success();
    }
    const std::uint32_t now = tick_count_ms();
    if (restarts_wait) {
        u.op.last_request_tick = now;
        u.answer_damaged = false;
    }
    u.op.last_send_tick = now;
    return sent(u, u.link.send_message(message, n, u.op.verbose_level));
}

}  // namespace

bool link_failed(const unit& u) { return u.link_failure.has_value(); }

result send_raw_byte(unit& u, std::uint8_t byte) {
    return u.link_failure ? *u.link_failure : sent(u, u.link.send_raw_byte(byte));
}

result purge_link(unit& u) { return u.link_failure ? *u.link_failure : sent(u, u.link.purge()); }

result send_request(unit& u, const std::uint8_t* message, std::size_t n) {
    return send_message(u, message, n, true);
}

result send_download_request(unit& u) {
    u.op.dl_ready.clear();
    return send_request(u, u.requests.dl_req);
}

result send_log_request(unit& u, std::uint8_t block) {
    u.requests.log_req[log_req_at::block] = block;
    return send_request(u, u.requests.log_req);
}

result send_file_request(unit& u, std::uint16_t block_size, std::uint8_t bank, std::uint16_t block,
                       std::uint8_t file_type) {
    auto& m = u.requests.file_req;
    m[file_req_at::index] = bank;
    m[file_req_at::file_type] = file_type;
    put_be16(m.data() + file_req_at::block_size, block_size);
    put_be16(m.data() + file_req_at::block_number, block);
    return send_request(u, m);
}

result send_loader_exit(unit& u) { return send_request(u, u.requests.loader_exit); }

result Send_reboot_req(unit& u, std::uint8_t bank) {
    if (u.op.verbose_level > 1) {
        out_printf("Send_reboot_req %d\n", int{bank});
    }
    auto& p1 = u.requests.reboot_req[param_p1];
    p1 = static_cast<std::uint8_t>((p1 & ~reboot_bank_mask) | (bank & reboot_bank_mask));
    return send_request(u, u.requests.reboot_req);
}

result send_boot_info_request(unit& u) { return send_request(u, u.requests.bootinfo_req); }

result send_boot_info_poll(unit& u) {
    return send_message(u, u.requests.bootinfo_req.data(), u.requests.bootinfo_req.size(), false);
}

result send_flash_info_request(unit& u) { return send_request(u, u.requests.flash_info_req); }

result send_safemode_request(unit& u) { return send_request(u, u.requests.safemode_req); }

result send_keep_alive(unit& u) {
    return send_message(u, u.requests.keep_alive.data(), u.requests.keep_alive.size(), false);
}

result send_eeprom_info_request(unit& u, std::uint8_t file_type, std::uint8_t channel) {
    auto& m = u.requests.eeprom_info_req;
    m[eeprom_info_req_at::file_type] = file_type;
    m[eeprom_info_req_at::channel] = channel;
    return send_request(u, m);
}

result send_firmware_info(unit& u) {
    u.op.fwinfo_acked.clear();
    u.op.chunk_failed.clear();
    if (u.op.verbose_level > 1) {
        out_printf("Sending firmware_info\n");
    }
    pack_firmware_info(u.requests.firmware_info, u.op);
    result sent_info = send_request(u, u.requests.firmware_info);
    u.budgets.chunk_answer = chunk_answer_start_budget;
    return sent_info;
}
