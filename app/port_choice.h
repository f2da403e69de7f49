// The serial port as the command line chooses it: by number with /interface (COMn) or by the
// system's name with /port, not both; and +list_ports, which shows the ports present.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "platform/serial_ports.h"

// Ends the run with a message and status -1 when /port is given together with /interface, or
// with an empty name.
void check_port_options(const option_table& options);

// The port /port names; nullptr when /port was not given.
const std::string* named_port(const option_table& options);

// What +list_ports prints: a line per port, its name followed by its other names; one line
// saying so when there is none.
std::string port_listing(const std::vector<serial_port_entry>& ports);
