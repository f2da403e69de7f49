#include "link/comm_error.h"

#include <utility>

const char* comm_error_meaning(int code) {
    switch (code) {
    case comm_not_open: return "the port is not open";
    case comm_create_failed: return "cannot open the port";
    case comm_write_failed: return "writing to the port failed";
    case comm_read_failed: return "reading from the port failed";
    case comm_close_failed: return "closing the port failed";
    case comm_purge_failed: return "clearing the port's receive queue failed";
    case comm_get_state_failed: return "cannot read the port's settings";
    case comm_set_state_failed: return "cannot set the port to 115200 baud, 8N1";
    case comm_setup_failed: return "cannot size the port's queues";
    case comm_timeouts_failed: return "cannot set the port's time-outs";
    case comm_clear_error_failed: return "the port stopped answering (unplugged?)";
    default: return "serial port failure";
    }
}

result comm_failure(int code, const os_error& system, const std::string& port_name) {
    std::string line = "Serial port ";
    line += port_name.empty() ? std::string("?") : port_name;
    line += ": ";
    line += comm_error_meaning(code);
    line += " (error " + std::to_string(code) + ")";
    if (system.code != 0 || !system.text.empty()) {
        line += ": " + system.text + " (system error " + std::to_string(system.code) + ")";
    }
    return result::failure(result_kind::link_failed, std::move(line), system, code);
}
