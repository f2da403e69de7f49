// The serial ports present on this machine, named as the operating system names them: what a
// user can give to /port, and what +list_ports shows.
#pragma once

#include <string>
#include <vector>

struct serial_port_entry {
    std::string name;                  // what /port takes: "COM3", "/dev/ttyUSB0"
    std::vector<std::string> aliases;  // other names of the same port (/dev/serial/by-id/...)
};

// The ports present, ordered by kind and then by number; empty when there are none. Nothing is
// opened: a port in use by another program is listed too.
std::vector<serial_port_entry> list_serial_ports();
