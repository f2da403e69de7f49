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

// After the port failed during a run with /wait_port: waits for the receiver to end, then up to
// `wait_seconds` for the port to come back (a cable pulled and put back), opens it again and
// starts its receiver for `listener` again; lines say that it waits and how it ended. The
// failure when it does not come back in time names the port and the wait. The reporter, when
// there is one, is told of the wait as of one at the start.
result reopen_serial_waiting(serial_unit_link& link, const std::string& port_name,
                             const std::function<std::string()>& device,
                             std::uint32_t wait_seconds, link_listener& listener,
                             unit_reporter* reporter = nullptr);
