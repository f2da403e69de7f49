#include "app/port_choice.h"

#include <cctype>

#include "app/arg.h"
#include "app/batch_operations.h"
#include "platform/file_system.h"
#include "platform/serial_device.h"
#include "platform/visible_text.h"

namespace {

// The names of a /ports list as given, empty ones included.
std::vector<std::string> split_list(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) {
            return names;
        }
        start = comma + 1;
    }
}

bool is_all(const arg_option& ports) { return ports.value.text && *ports.value.text == "all"; }

void check_ports_list(const option_table& options) {
    const arg_option& ports = options[opt_ports];
    if (options[opt_port].given || options[opt_interface].given) {
        arg_fatal(-1, "Give /ports alone: /port and /interface choose the port of a single "
                      "unit\n");
    }
    const std::string list = ports.value.text.value_or(std::string());
    if (!is_all(ports)) {
        const std::vector<std::string> names = split_list(list);
        for (std::size_t k = 0; k < names.size(); ++k) {
            if (names[k].empty()) {
                arg_fatal(-1, "/ports needs the names of serial ports separated by commas "
                              "(COM3,COM4), or all\n");
            }
            for (std::size_t j = 0; j < k; ++j) {
                // Two names for one device (a link and its target) count as the same port.
                if (names[j] == names[k] ||
                    same_file(serial_device_path(names[j]), serial_device_path(names[k]))) {
                    arg_fatal(-1, "/ports names the port %s twice\n",
                              visible_text(names[k]).c_str());
                }
            }
        }
    }
    if (!is_batch_run(options)) {
        arg_fatal(-1, "/ports runs the operations of the command line on every unit: give at "
                      "least one (+info, /load_fw FILE, +get_log, ...)\n");
    }
}

}  // namespace

void check_port_options(const option_table& options) {
    if (options[opt_ports].given) {
        check_ports_list(options);
        return;
    }
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

std::vector<std::string> ports_to_serve(const option_table& options,
                                        const std::vector<serial_port_entry>& present) {
    const arg_option& ports = options[opt_ports];
    if (!ports.given) {
        return {};
    }
    if (!is_all(ports)) {
        return split_list(ports.value.text.value_or(std::string()));
    }
    std::vector<std::string> names;
    for (const serial_port_entry& port : present) {
        names.push_back(port.name);
    }
    if (names.empty()) {
        arg_fatal(-1, "/ports all: no serial port found\n");
    }
    return names;
}

const std::string* named_port(const option_table& options) {
    const arg_option& port = options[opt_port];
    if (port.given && port.value.text) {
        return &*port.value.text;
    }
    const arg_option& ports = options[opt_ports];
    if (ports.given && ports.value.text && !is_all(ports) &&
        ports.value.text->find(',') == std::string::npos) {
        return &*ports.value.text;
    }
    return nullptr;
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

std::string unit_folder_name(const std::string& port) {
    std::string name = port;
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) {
        name.pop_back();
    }
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '-' && c != '.' && c != '_') {
            c = '_';
        }
    }
    constexpr std::size_t longest = 64;
    if (name.size() > longest) {
        name.resize(longest);
    }
    // The prefix keeps a port's name from being taken for a device (COM3, NUL) or for "..".
    return "unit_" + (name.empty() ? std::string("port") : name);
}
