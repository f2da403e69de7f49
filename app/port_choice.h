// The serial ports as the command line chooses them: one by number with /interface (COMn) or by
// the system's name with /port, or several units at once with /ports (a list, or all the ports
// present); and +list_ports, which shows the ports present.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "platform/serial_ports.h"

// Ends the run with a message and status -1 when /port is given together with /interface, or
// with an empty name; and when /ports is given with /port or /interface, with an empty list or
// an empty name in it, with a port named twice, or with no operation to run on the units.
void check_port_options(const option_table& options);

// The ports a run with /ports serves, in the order given (all: in the order +list_ports shows
// them); `present` is what the system lists. Ends the run with status -1 when "all" finds none.
std::vector<std::string> ports_to_serve(const option_table& options,
                                        const std::vector<serial_port_entry>& present);

// The single port /port names, or /ports when it names one; nullptr otherwise.
const std::string* named_port(const option_table& options);

// What +list_ports prints: a line per port, its name followed by its other names; one line
// saying so when there is none.
std::string port_listing(const std::vector<serial_port_entry>& ports);

// A name for the folder of a unit's files made from its port's name: "unit_COM3",
// "unit_ttyUSB0" (the last part of a path, characters other than letters, digits, '-', '.' and
// '_' as '_'); never a name the system keeps for a device.
std::string unit_folder_name(const std::string& port);
