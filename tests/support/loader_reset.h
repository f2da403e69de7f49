// The loader's shared records put back as the program starts them, so that no test sees what
// an earlier one left: the operation record, the request templates, the retry budgets and the
// link flags (the card link).
#pragma once

#include "link/link_mode.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/waiting.h"

inline void reset_loader_state() {
    reset_firmware_operation();
    reset_request_templates();
    reset_retry_budgets();
    reset_link_mode();
}
