// Checksums of the link layer: crc8_card and crc8_serial protect each message on the card and
// serial links, crc32_file (the standard CRC-32) identifies a whole file sent to or read from
// the unit.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-8, polynomial 0x93, initial value 0, most significant bit first, over all eight bits of
// each byte. Table-driven; the table is built on first use.
std::uint8_t crc8_card(const std::uint8_t* data, std::size_t count);

// The same polynomial, but only the low four bits of each byte enter the checksum (bits 3 to 0,
// in that order). The unit computes it the same way, so two messages that differ only in upper
// nibbles carry the same checksum.
std::uint8_t crc8_serial(const std::uint8_t* data, std::size_t count);

// Builds the CRC-32 table once; later calls do nothing. Start-up calls it before any file is read.
void crc32_file_init();

// Reflected CRC-32 (0xEDB88320). Pass 0xFFFFFFFF as initial for the ordinary CRC-32; to go on
// over a further part of the same data pass the complement of the result so far.
// Safe to call before crc32_file_init: the table is then built on the spot.
std::uint32_t crc32_file(const std::uint8_t* data, std::size_t count, std::uint32_t initial);
