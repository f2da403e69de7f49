// How a Linux system shows its serial ports: device files in /dev and, for each, the kernel's
// account of it in /sys/class/tty. Plain file-system reading, kept apart from the system's own
// entry point so that it can be pointed at another tree (the tests build a fake one).
#pragma once

#include <filesystem>
#include <vector>

#include "platform/serial_ports.h"

// The ttyS, ttyUSB and ttyACM ports found in `dev_root` (the folder of device files, "/dev"),
// checked against `tty_class_root` (the kernel's tty class folder, "/sys/class/tty"), each with
// the names of dev_root/serial/by-id that lead to it.
std::vector<serial_port_entry> find_tty_ports(const std::filesystem::path& dev_root,
                                              const std::filesystem::path& tty_class_root);
