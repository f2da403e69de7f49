// Linux serial ports: the device files of /dev, checked against what the kernel tells of each in
// /sys/class/tty.
#include "platform/serial_ports.h"

#include "platform/tty_ports.h"

std::vector<serial_port_entry> list_serial_ports() {
    return find_tty_ports("/dev", "/sys/class/tty");
}
