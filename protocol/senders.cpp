#include "protocol/senders.h"

#include <atomic>

#include "link/byte_order.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/waiting.h"

namespace {

std::atomic<unit_link*> current_link{nullptr};

}  // namespace

void use_link(unit_link* link) { current_link.store(link, std::memory_order_release); }

void send_raw_byte(std::uint8_t byte) {
    if (unit_link* link = current_link.load(std::memory_order_acquire)) {
        link->send_raw_byte(byte);
    }
}

void purge_link() {
    if (unit_link* link = current_link.load(std::memory_order_acquire)) {
        link->purge();
    }
}

namespace {

// Every request but the keep-alive restarts the wait for an answer. The keep-alive answers no
// question: were it to restart the waits, a lost answer on the serial link would be waited for
// without end instead of being asked for again.
void send_message(const std::uint8_t* message, std::size_t n, bool restarts_wait) {
    unit_link* link = current_link.load(std::memory_order_acquire);
    if (link == nullptr || !link->carries_messages()) {
        // Remote access: the request is dropped; a waiting state retries once the mode is back.
        return;
    }
    const std::uint32_t now = tick_count_ms();
    if (restarts_wait) {
        firmware_operation.last_request_tick = now;
    }
    firmware_operation.last_send_tick = now;
    link->send_message(message, n, firmware_operation.verbose_level.load(std::memory_order_relaxed));
}

}  // namespace

void send_request(const std::uint8_t* message, std::size_t n) { send_message(message, n, true); }

void send_download_request() {
    firmware_operation.dl_ready.clear();
    send_request(requests.dl_req);
}

void send_log_request(std::uint8_t block) {
    requests.log_req[log_req_at::block] = block;
    send_request(requests.log_req);
}

void send_file_request(std::uint16_t block_size, std::uint8_t bank, std::uint16_t block,
                       std::uint8_t file_type) {
    auto& m = requests.file_req;
    m[file_req_at::index] = bank;
    m[file_req_at::file_type] = file_type;
    put_be16(m.data() + file_req_at::block_size, block_size);
    put_be16(m.data() + file_req_at::block_number, block);
    send_request(m);
}

void send_loader_exit() { send_request(requests.loader_exit); }

void Send_reboot_req(std::uint8_t bank) {
    if (firmware_operation.verbose_level > 1) {
        out_printf("Send_reboot_req %d\n", int{bank});
    }
    auto& p1 = requests.reboot_req[param_p1];
    p1 = static_cast<std::uint8_t>((p1 & ~reboot_bank_mask) | (bank & reboot_bank_mask));
    send_request(requests.reboot_req);
}

void send_boot_info_request() { send_request(requests.bootinfo_req); }

void send_boot_info_poll() {
    send_message(requests.bootinfo_req.data(), requests.bootinfo_req.size(), false);
}

void send_flash_info_request() { send_request(requests.flash_info_req); }

void send_safemode_request() { send_request(requests.safemode_req); }

void send_keep_alive() {
    send_message(requests.keep_alive.data(), requests.keep_alive.size(), false);
}

void send_eeprom_info_request(std::uint8_t file_type, std::uint8_t channel) {
    auto& m = requests.eeprom_info_req;
    m[eeprom_info_req_at::file_type] = file_type;
    m[eeprom_info_req_at::channel] = channel;
    send_request(m);
}

void send_firmware_info() {
    firmware_operation.fwinfo_acked.clear();
    firmware_operation.chunk_failed.clear();
    if (firmware_operation.verbose_level > 1) {
        out_printf("Sending firmware_info\n");
    }
    pack_firmware_info(requests.firmware_info, firmware_operation);
    send_request(requests.firmware_info);
    budgets.chunk_answer = chunk_answer_start_budget;
}
