// Waiting for the unit to boot the bank asked for: the boot report that completes the boot,
// passes over the boot loader on the way, or tells of a failure; BOOTINFO_REQ asked again at a
// steady pace meanwhile. Each step is one pass of its state.
#pragma once

#include "protocol/operation_state.h"
#include "protocol/pace.h"

struct unit;

// boot_requested: the wait begins.
void boot_started_step(unit& u, operation_state& state, pace& boot_requests);

// awaiting_boot: one pass of the wait, with progress marks at their pace.
void boot_waiting_step(unit& u, operation_state& state, pace& boot_requests, pace& marks);
