#include "app/startup.h"

#include <optional>
#include <string>

#include "app/batch_operations.h"
#include "app/options.h"
#include "app/run_report.h"
#include "app/port_choice.h"
#include "app/session.h"
#include "link/admxrc_wrapper.h"
#include "link/card_link.h"
#include "link/card_receiver.h"
#include "link/card_window.h"
#include "link/comm_error.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/serial_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"
#include "platform/visible_text.h"
#include "platform/user.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"

namespace {

constexpr std::uint32_t refused_port_pause_ms = 3000;

// The one card of the run. It lives until the process ends, which closes the card and releases
// the driver library.
CADMXRCWrapper card;

// The link of the run, chosen once; the senders reach the unit through it.
card_unit_link card_link;
serial_unit_link serial_link_of_run;

// The bitstream file of the run: the /bitfile value when given, else the file of the board type.
const char* default_bitstream(int board_type) {
    switch (board_type) {
        case 2:
            return "LMtestV2.bit";
        case 5:
            return "LMtestV5.bit";
        case 6:
            return "LMtestV6.bit";
        default:
            return nullptr;
    }
}

// The card link: find the card, read the bitstream, configure the card, then hand its window
// to the card's sender and receiver. Every failure ends the run.
void open_card_link(const option_table& options) {
    if (card.DetectCard() != CADMXRCWrapper::status_ok) {
        process_exit(exit_no_card);
    }
    std::string bitstream_file;
    if (options[opt_bitfile].given && options[opt_bitfile].value.text) {
        bitstream_file = *options[opt_bitfile].value.text;
    } else if (const char* name = default_bitstream(card.board_type())) {
        bitstream_file = name;
    } else {
        out_printf("Unknown firmware version.\n");
        process_exit(exit_unknown_board);
    }
    if (card.ReadBitstream(bitstream_file) != CADMXRCWrapper::status_ok) {
        process_exit(exit_card_setup_failed);
    }
    if (options[opt_card].given || options[opt_index].given) {
        out_printf("Neither /card nor /index are supported anymore. Default is index 0\n");
        process_exit(exit_card_options_retired);
    }
    if (card.OpenAndConfigure() != CADMXRCWrapper::status_ok) {
        process_exit(exit_card_setup_failed);
    }
    rx_register.store(card.board_type() == 6 ? card_rx_data_v6 : card_rx_data_v2,
                      std::memory_order_release);
    const mapped_window window{card.GetWindow()};
    card_window.store(window.base, std::memory_order_release);
    window.store(card_setup_a, 2);
    window.store(card_setup_b, 1);
    use_link(&card_link);
}

void open_serial_link(std::uint32_t port_number) {
    loader_mode.store(1, std::memory_order_release);
    serial_link.store(1, std::memory_order_release);
    if (serial_open(port_number) != 0) {
        out_printf("Initialize COM %d Failed\n", static_cast<int>(port_number));
        sleep_ms(refused_port_pause_ms);
        process_exit(exit_bad_port_number);
    }
    use_link(&serial_link_of_run);
}

// The serial port named with /port, whose name check_port_options has found not empty.
void open_named_serial_link(const std::string& name) {
    loader_mode.store(1, std::memory_order_release);
    serial_link.store(1, std::memory_order_release);
    serial_open_named(name);
    use_link(&serial_link_of_run);
}

void start_receiver(os_thread::procedure receiver) {
    os_error error;
    if (!receiver_thread.start(receiver, error)) {
        out_printf("Cannot start the receiver thread: %s\n", error.text.c_str());
        process_exit_now(exit_receiver_failed);
    }
    if (!receiver_thread.raise_priority(error)) {
        out_printf("SetThreadPriority() failed\n");
    }
}

// The receiver hands every message to the dispatcher and traces by the program's level.
void start_receiver_with_dispatcher(os_thread::procedure receiver) {
    set_message_handler(&ExecuteCommand);
    set_receiver_trace_level(&firmware_operation.verbose_level);
    start_receiver(receiver);
}

// The files the run loads and the port it opens, which its report must not replace.
report_neighbours report_neighbours_of(const option_table& options) {
    report_neighbours neighbours;
    for (const option_index load : {opt_load_fw, opt_load_sw, opt_load_prom}) {
        const arg_option& option = options[load];
        if (option.given && option.value.text && !option.value.text->empty()) {
            neighbours.loads.emplace_back(std::string("/") + option.name, *option.value.text);
        }
    }
    if (const std::string* port = named_port(options)) {
        neighbours.port_name = *port;
        neighbours.port_device = serial_device_path(*port);
    } else if (const std::uint32_t interface = options[opt_interface].value.u; interface != 0) {
        neighbours.port_name = "COM" + std::to_string(interface);
        neighbours.port_device = serial_device_name(interface);
    }
    return neighbours;
}

// A command-line run with /report whose port cannot be opened still leaves its report: the
// connection failed with the port's line, nothing else was done, and the status is the port's.
void report_failed_start(const option_table& options, const report_link& link,
                         const ECommError& error) {
    if (!options[opt_report].given || !is_batch_run(options)) {
        return;
    }
    std::string line = comm_error_line(error);
    while (!line.empty() && (line.front() == '\n' || line.back() == '\n')) {
        line.erase(line.front() == '\n' ? 0 : line.size() - 1, 1);
    }
    run_journal journal;
    journal.begin("connect");
    note_operation_failed(line);
    journal.end();
    write_run_report(options[opt_report].value.text.value_or(std::string()), link, journal,
                     comm_error_exit_status);
}

}  // namespace

void kestrel_main(int argc, const char* const* argv) {
    const std::string user_name = current_user_name();

    option_table options;
    build_option_table(options);
    arg_block block = make_arg_block(options);
    parse_command_line(block, argc, argv);
    check_port_options(options);
    if (options[opt_list_ports].value.b) {
        out_write(port_listing(list_serial_ports()));
        process_exit(0);
    }
    if (options[opt_report].given) {
        // Checked before anything is done: a long run must not end in a report it cannot write.
        const std::string& path = options[opt_report].value.text.value_or(std::string());
        if (const std::optional<std::string> problem =
                check_report_path(path, report_neighbours_of(options))) {
            out_printf("Report file \"%s\" cannot be written: %s\n", visible_text(path).c_str(),
                       problem->c_str());
            process_exit(exit_bad_report_path);
        }
    }

    stop_receiver.store(0, std::memory_order_release);
    const std::uint32_t interface = options[opt_interface].value.u;
    report_link link;
    int status = 0;
    bool running = false;  // the session has started: it reports what happens from then on
    try {
        // The program's signal handling comes first: the card's driver may put a fault handler
        // of its own in front of it, passing on what is not its own.
        process_catch_signals();
        console_open();
        if (const std::string* port = named_port(options)) {
            link.serial = true;
            link.port = *port;
            open_named_serial_link(*port);
            start_receiver_with_dispatcher(&serial_receiver);
        } else if (interface == 0) {
            open_card_link(options);
            link.board_type = card.board_type();
            start_receiver_with_dispatcher(&card_receiver);
        } else {
            link.serial = true;
            link.port = "COM" + std::to_string(interface);
            open_serial_link(interface);
            start_receiver_with_dispatcher(&serial_receiver);
        }
        running = true;
        status = run_operations(options, link, user_name, options[opt_verbose].value.u & 0xFFu,
                                options[opt_safemode].value.b, options[opt_bank0].value.b);
    } catch (const ECommError& error) {
        if (!running) {
            report_failed_start(options, link, error);
        }
        end_run_on_comm_error(error);
    }
    stop_receiver_and_exit(status, firmware_operation.batch_mode != 0);
}
