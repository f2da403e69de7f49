// How the unit boots: which boot reports a reboot produces, one per boot delay. Going from one
// application bank to another, the unit passes through its boot loader in bank 0 first. A bank
// without a valid image cannot boot: the unit falls back to the bank it ran before.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/loader_state.h"

struct boot_report {
    std::uint8_t bank;  // the bank the unit runs from after this step
    bool failed;        // BOOTINFO_FAIL instead of BOOTINFO_ACK
};

// The reports of a reboot from bank `from` to bank `target`, in order. With `fail_to` set, a
// boot to banks 1-3 fails and the unit ends in that bank.
std::vector<boot_report> plan_boot(std::uint8_t from, std::uint8_t target,
                                   const std::array<bool, bank_records>& bootable,
                                   std::optional<std::uint8_t> fail_to);
