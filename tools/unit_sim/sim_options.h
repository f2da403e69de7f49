// Settings of the simulated unit: where its port appears, how it paces the line, how much it
// tells, and the faults it injects on purpose so that the program's error paths can be tried.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "tools/unit_sim/sim_memory.h"
#include "tools/unit_sim/sim_record.h"

// Faults the unit injects. All off by default; random ones draw from the seeded generator, so a
// run with the same seed and the same traffic misbehaves the same way.
struct sim_faults {
    double corrupt_probability = 0.0;  // per message byte sent: flip one bit, the checksum fails
    // Per answer sent: one bit of one byte flipped, the checksum fails. Unlike the per-byte
    // fault it hurts a long answer no more than a short one, so long transfers still finish.
    double corrupt_answer_probability = 0.0;
    double drop_probability = 0.0;     // per answer: not sent at all
    // Line noise, per byte the unit puts on the line (frames whole, sync pair, length, checksum
    // and trailer included, and terminal text): one of its eight bits flipped...
    double noise_probability = 0.0;
    // ...or the byte lost on the way.
    double drop_byte_probability = 0.0;
    std::optional<std::uint16_t> dl_fail_at_chunk;  // DL_DATA with this number gets DL_FAIL
    bool file_failed = false;          // every FILE_REQ gets FILE_FAILED
    bool silent = false;               // nothing is sent at all, requests are still taken in
    bool wrong_block_once = false;     // the next FILE_ACK carries a wrong block number, once
    std::optional<std::uint8_t> boot_fail_to;  // a boot to banks 1-3 falls back to this bank
    // FLASH_INFO and EEPROM_ACK report a wrong CRC-32 for what is stored; the data sent for a
    // FILE_REQ stay correct.
    bool wrong_crc = false;
    // The byte at this offset of every image or EEPROM downloaded is stored with its bits
    // inverted (a flash cell that failed); the unit's record then holds the CRC-32 of what it
    // stores, so that only a comparison with the file shows the difference.
    std::optional<std::uint32_t> corrupt_stored_byte;
    // FLASH_INFO (for every valid image) and EEPROM_ACK report this size instead of the true one;
    // the data sent for a FILE_REQ stay those stored.
    std::optional<std::uint32_t> reported_size;
    // EEPROM_ACK names this file type and channel index instead of those asked for.
    std::optional<std::pair<std::uint8_t, std::uint8_t>> eeprom_ack_names;
    // The FILE_ACK for one of these block numbers (of whatever file is read) carries one byte of
    // file data with bit 7 flipped in a valid frame: the line's checksum covers only the low
    // four bits of each byte, so only a check of the whole file finds it. The first
    // damage_times answers for each such number are damaged; later ones carry the true data.
    std::vector<std::uint16_t> damaged_blocks;
    unsigned damage_times = 1;
    // The same for the MESSAGE_LOG_ACK of these log blocks: one character of an entry.
    std::vector<std::uint8_t> damaged_log_blocks;
    unsigned log_damage_times = 1;
    // Per bank: the first so many FLASH_INFO answers of that bank are not sent; the other
    // banks' answers to the same request still are.
    std::array<unsigned, bank_records> lost_bank_records{};
};

struct sim_unit_options {
    std::filesystem::path link_dir = ".";  // where the link COM<port> is made
    unsigned port = 3;
    std::optional<std::filesystem::path> wine_prefix;  // also $prefix/dosdevices/com<port>
    bool pacing = true;                    // 115200 baud, 8N1, in both directions
    std::chrono::milliseconds boot_delay{300};  // from a reboot request to the boot report
    int verbosity = 0;                     // 0 quiet, 1 a line per message, 2 with its bytes
    std::FILE* trace = stderr;             // where verbose lines go
    std::uint64_t seed = 1;
    // Which factory images the unit leaves the factory with: 0 the usual ones; any other value
    // varies their contents (same names, kinds and sizes, other bytes and CRC-32), so that
    // units run side by side each hold images of their own.
    unsigned image_variant = 0;
    sim_faults faults;
    // Images stored in place of the factory's before the unit starts.
    std::vector<image_preload> preloads;
    // Keep every item received for snapshots (tests). A long-running program streams the items
    // through on_received instead and keeps none.
    bool keep_received = true;
    // Called on the unit's thread for every item received, in order. It must not call back
    // into the unit.
    std::function<void(const received_item&)> on_received;
};
