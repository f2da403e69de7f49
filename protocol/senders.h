// Every request leaves through send_request, which also stamps the time all waits measure from;
// on top of it one small sender per request. Requests go out over the unit's link; while it
// cannot carry them (the serial line in remote access) they are dropped. Each sender returns
// the link's failure once the link has failed: the failure is kept in the unit for the session,
// which ends the run, and nothing more is sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"
#include "protocol/messages.h"

struct unit;

result send_request(unit& u, const std::uint8_t* message, std::size_t n);

template <std::size_t N>
result send_request(unit& u, const message_bytes<N>& message) {
    return send_request(u, message.data(), N);
}

// Writes one byte to the serial port outside any frame (mode switches, remote access keys).
result send_raw_byte(unit& u, std::uint8_t byte);

// On the serial link in loader mode: discards what was received, asks the unit for framed
// messages ("##") and pauses 100 ms. Nothing on the card link or in remote access.
result purge_link(unit& u);

// DL_REQ; clears dl_ready first.
result send_download_request(unit& u);
// LOG_REQ for a block of the log.
result send_log_request(unit& u, std::uint8_t block);
// FILE_REQ for one block of a stored file.
result send_file_request(unit& u, std::uint16_t block_size, std::uint8_t bank, std::uint16_t block,
                       std::uint8_t file_type);
result send_loader_exit(unit& u);
// REBOOT_REQ with the bank in the two low bits of P1.
result Send_reboot_req(unit& u, std::uint8_t bank);
result send_boot_info_request(unit& u);
// BOOTINFO_REQ asked again while a reboot runs; like the keep-alive it does not restart the
// wait for the boot report.
result send_boot_info_poll(unit& u);
result send_flash_info_request(unit& u);
result send_safemode_request(unit& u);
// KEEP_ALIVE; unlike every other request it does not restart the wait for an answer.
result send_keep_alive(unit& u);
// EEPROM_INFO_REQ for a file type (3-6) and channel index.
result send_eeprom_info_request(unit& u, std::uint8_t file_type, std::uint8_t channel);
// FIRMWARE_INFO from the loader state; clears fwinfo_acked and chunk_failed first, and gives
// the chunk wait its budget of 50 again.
result send_firmware_info(unit& u);

// True once the unit's link has failed.
bool link_failed(const unit& u);
