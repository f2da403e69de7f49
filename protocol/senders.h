// Every request leaves through send_request, which also stamps the time all waits measure from;
// on top of it one small sender per request. Requests go out over the link of the run; while
// it cannot carry them (the serial line in remote access) they are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/unit_link.h"
#include "protocol/messages.h"

// The link every request leaves by, chosen once at start-up (a test hands in its own); nothing
// is sent before there is one.
void use_link(unit_link* link);

void send_request(const std::uint8_t* message, std::size_t n);

// Writes one byte to the serial port outside any frame (mode switches, remote access keys).
void send_raw_byte(std::uint8_t byte);

// On the serial link in loader mode: discards what was received, asks the unit for framed
// messages ("##") and pauses 100 ms. Nothing on the card link or in remote access.
void purge_link();

template <std::size_t N>
void send_request(const message_bytes<N>& message) {
    send_request(message.data(), N);
}

// DL_REQ; clears dl_ready first.
void send_download_request();
// LOG_REQ for a block of the log.
void send_log_request(std::uint8_t block);
// FILE_REQ for one block of a stored file.
void send_file_request(std::uint16_t block_size, std::uint8_t bank, std::uint16_t block,
                       std::uint8_t file_type);
void send_loader_exit();
// REBOOT_REQ with the bank in the two low bits of P1.
void Send_reboot_req(std::uint8_t bank);
void send_boot_info_request();
// BOOTINFO_REQ asked again while a reboot runs; like the keep-alive it does not restart the
// wait for the boot report.
void send_boot_info_poll();
void send_flash_info_request();
void send_safemode_request();
// KEEP_ALIVE; unlike every other request it does not restart the wait for an answer.
void send_keep_alive();
// EEPROM_INFO_REQ for a file type (3-6) and channel index.
void send_eeprom_info_request(std::uint8_t file_type, std::uint8_t channel);
// FIRMWARE_INFO from the loader state; clears fwinfo_acked and chunk_failed first, and gives
// the chunk wait its budget of 50 again.
void send_firmware_info();
