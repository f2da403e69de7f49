#include "app/port_choice.h"

void check_port_options(const option_table& options) {
    const arg_option& port = options[opt_port];
    if (!port.given) {
        return;
    }
    if (options[opt_interface].given) {
        arg_fatal(-1, "Give either /port or /interface, not both: /port names the serial port, "
                      "/interface numbers it\n");
    }
    if (!port.value.text || port.value.text->empty()) {
        arg_fatal(-1, "/port needs the name of a serial port (+list_ports lists them)\n");
    }
}

const std::string* named_port(const option_table& options) {
    const arg_option& port = options[opt_port];
    return port.given && port.value.text ? &*port.value.text : nullptr;
}

std::string port_listing(const std::vector<serial_port_entry>& ports) {
    if (ports.empty()) {
        return "No serial port found.\n";
    }
    std::string text;
    for (const serial_port_entry& port : ports) {
        text += port.name;
        for (const std::string& alias : port.aliases) {
            text += "  " + alias;
        }
        text += "\n";
    }
    return text;
}
