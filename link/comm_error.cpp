#include "link/comm_error.h"

#include "platform/output.h"
#include "platform/process.h"

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

std::string comm_error_line(const ECommError& error) {
    std::string line = "\nSerial port ";
    line += error.port_name.empty() ? std::string("?") : error.port_name;
    line += ": ";
    line += comm_error_meaning(error.code);
    line += " (error " + std::to_string(error.code) + ")";
    if (error.system_error != 0 || !error.system_text.empty()) {
        line += ": " + error.system_text + " (system error " +
                std::to_string(error.system_error) + ")";
    }
    line += "\n";
    return line;
}

void end_run_on_comm_error(const ECommError& error) {
    out_write(comm_error_line(error));
    process_exit_now(comm_error_exit_status);
}
