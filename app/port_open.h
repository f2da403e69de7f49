// Opening a unit's serial port, waiting for it when asked to (/wait_port): a port that does not
// exist yet (a USB adapter plugged in later, a unit still powering up) is looked for again
// until it appears or the wait is over.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/serial_link.h"
#include "platform/result.h"

class unit_reporter;

// Opens the port `port_name` (as messages name it) on the device `device()` names, asked again
// for every try. With `wait_seconds` a port that is not there is tried again every quarter of a
// second until then, after a line that says so; when it does not appear in time a line says
// that too, and the failure of the last try is returned.
result open_serial_waiting(serial_unit_link& link, const std::string& port_name,
                           const std::function<std::string()>& device, std::uint32_t wait_seconds,
                           unit_reporter* reporter = nullptr);
