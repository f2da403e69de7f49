#include "app/startup.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_operations.h"
#include "app/event_log.h"
#include "app/options.h"
#include "app/port_choice.h"
#include "app/port_open.h"
#include "app/rack_run.h"
#include "app/run_report.h"
#include "app/session.h"
#include "app/unit_reporter.h"
#include "app/version.h"
#include "link/admxrc_wrapper.h"
#include "link/card_link.h"
#include "link/card_window.h"
#include "link/comm_error.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"
#include "platform/visible_text.h"
#include "platform/user.h"
#include "protocol/run_outcome.h"
#include "protocol/unit.h"

namespace {

constexpr std::uint32_t refused_port_pause_ms = 3000;

// The card in the PC and its driver library, bound into the process: there is one per process
// whatever it serves. It lives until the process ends, which closes the card and releases the
// driver library.
CADMXRCWrapper card;

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
// to the card's link. Every failure ends the run.
std::unique_ptr<unit_link> open_card_link(const option_table& options) {
    if (!card.DetectCard()) {
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
    if (!card.ReadBitstream(bitstream_file)) {
        process_exit(exit_card_setup_failed);
    }
    if (options[opt_card].given || options[opt_index].given) {
        out_printf("Neither /card nor /index are supported anymore. Default is index 0\n");
        process_exit(exit_card_options_retired);
    }
    if (!card.OpenAndConfigure()) {
        process_exit(exit_card_setup_failed);
    }
    const std::size_t rx_data = card.board_type() == 6 ? card_rx_data_v6 : card_rx_data_v2;
    const mapped_window window{card.GetWindow()};
    window.store(card_setup_a, 2);
    window.store(card_setup_b, 1);
    return std::make_unique<card_unit_link>(window.base, rx_data);
}

// The serial port COMn of /interface, or the single port named with /port or /ports (whose
// name check_port_options has found not empty). A port that cannot be opened is a failure of
// the run's link, reported as any other (with a report, when one is asked for).
result open_serial_link(serial_unit_link& link, const option_table& options,
                        report_link& report, unit_reporter* reporter) {
    report.serial = true;
    const std::uint32_t wait_seconds = options[opt_wait_port].value.u;
    if (const std::string* port = named_port(options)) {
        report.port = *port;
        return open_serial_waiting(
            link, *port, [port] { return serial_device_path(*port); }, wait_seconds, reporter);
    }
    const std::uint32_t port_number = options[opt_interface].value.u;
    if (static_cast<std::int32_t>(port_number) <= 0) {
        out_printf("Initialize COM %d Failed\n", static_cast<int>(port_number));
        sleep_ms(refused_port_pause_ms);
        process_exit(exit_bad_port_number);
    }
    report.port = "COM" + std::to_string(port_number);
    return open_serial_waiting(
        link, report.port, [port_number] { return serial_device_name(port_number); },
        wait_seconds, reporter);
}

// How the system names the device of the single port the options choose, asked again each time
// (on Linux /interface n finds ./COMn only while it is there).
std::function<std::string()> serial_device_of(const option_table& options) {
    if (const std::string* port = named_port(options)) {
        return [name = *port] { return serial_device_path(name); };
    }
    return [number = options[opt_interface].value.u] { return serial_device_name(number); };
}

// The files the run loads and the ports it opens, which its report and events must not
// replace.
report_neighbours report_neighbours_of(const option_table& options,
                                       const std::vector<std::string>& ports) {
    report_neighbours neighbours;
    for (const option_index load : {opt_load_fw, opt_load_sw, opt_load_prom}) {
        const arg_option& option = options[load];
        if (option.given && option.value.text && !option.value.text->empty()) {
            neighbours.loads.emplace_back(std::string("/") + option.name, *option.value.text);
        }
    }
    if (!ports.empty()) {
        for (const std::string& port : ports) {
            neighbours.ports.emplace_back(port, serial_device_path(port));
        }
    } else if (const std::string* port = named_port(options)) {
        neighbours.ports.emplace_back(*port, serial_device_path(*port));
    } else if (const std::uint32_t interface = options[opt_interface].value.u; interface != 0) {
        neighbours.ports.emplace_back("COM" + std::to_string(interface),
                                      serial_device_name(interface));
    }
    return neighbours;
}

// A command-line run with /report whose port cannot be opened still leaves its report: the
// connection failed with the port's line, nothing else was done, and the status is the port's.
// Its events say the same.
void report_failed_start(const option_table& options, unit_link& link, const report_link& report,
                         const result& failure, unit_reporter* reporter) {
    unit never_connected(link);
    run_journal journal(never_connected.outcome);
    journal.begin("connect");
    note_operation_failed(never_connected, failure.message);
    journal.end();
    if (reporter != nullptr) {
        reporter->operation_started(journal.entries().back());
        reporter->operation_ended(journal.entries().back());
        reporter->unit_ended(comm_error_exit_status, "failed", failure.message);
        reporter->run_ended(comm_error_exit_status);
    }
    if (!options[opt_report].given || !is_batch_run(options)) {
        return;
    }
    write_run_report(options[opt_report].value.text.value_or(std::string()), report,
                     never_connected, journal, comm_error_exit_status);
}

// Checks the report's and the events' files before anything is done: a long run must not end
// in a file it cannot write. Ends the run with status -1 when one is refused.
void check_output_paths(const option_table& options, const std::vector<std::string>& ports) {
    const report_neighbours neighbours = report_neighbours_of(options, ports);
    const std::string report_path =
        options[opt_report].given ? options[opt_report].value.text.value_or(std::string()) : "";
    if (options[opt_report].given) {
        if (const std::optional<std::string> problem = check_report_path(report_path, neighbours)) {
            out_printf("Report file \"%s\" cannot be written: %s\n",
                       visible_text(report_path).c_str(), problem->c_str());
            process_exit(exit_bad_report_path);
        }
    }
    if (options[opt_events].given) {
        const std::string path = options[opt_events].value.text.value_or(std::string());
        if (path != "-") {
            if (const std::optional<std::string> problem =
                    check_events_path(path, neighbours, report_path)) {
                out_printf("Events file \"%s\" cannot be written: %s\n",
                           visible_text(path).c_str(), problem->c_str());
                process_exit(exit_bad_report_path);
            }
        }
    }
}

// The events' destination, opened before any port: nothing without /events.
std::unique_ptr<event_log> open_events(const option_table& options) {
    if (!options[opt_events].given) {
        return nullptr;
    }
    const std::string path = options[opt_events].value.text.value_or(std::string());
    std::string error;
    std::unique_ptr<event_log> events = event_log::open(path, error);
    if (!events) {
        out_printf("Events file \"%s\" cannot be written: %s\n", visible_text(path).c_str(),
                   error.c_str());
        process_exit(exit_bad_report_path);
    }
    return events;
}

}  // namespace

void kestrel_main(int argc, const char* const* argv) {
    const std::string user_name = current_user_name();

    option_table options;
    build_option_table(options);
    arg_block block = make_arg_block(options);
    parse_command_line(block, argc, argv);
    check_port_options(options);
    if (options[opt_events].given && options[opt_events].value.text.value_or("") == "-") {
        // Standard output carries the events alone; what the screen shows goes to standard
        // error.
        out_use_standard_error();
    }
    if (options[opt_list_ports].value.b) {
        out_write(port_listing(list_serial_ports()));
        process_exit(0);
    }
    std::vector<std::string> ports;
    if (options[opt_ports].given) {
        ports = ports_to_serve(options, options[opt_ports].value.text.value_or("") == "all"
                                            ? list_serial_ports()
                                            : std::vector<serial_port_entry>{});
    }
    check_output_paths(options, ports);
    std::unique_ptr<event_log> events = open_events(options);

    // The program's signal handling comes first: the card's driver may put a fault handler of
    // its own in front of it, passing on what is not its own.
    process_catch_signals();
    console_open();
    if (ports.size() > 1) {
        process_exit(run_several_units(options, ports, user_name, events.get()));
    }
    // One unit: /ports with a single port is /port.
    if (ports.size() == 1) {
        options[opt_ports].value.text = ports.front();
    }
    const bool serial = named_port(options) != nullptr || options[opt_interface].value.u != 0;
    std::optional<unit_reporter> reporter;
    if (events) {
        const std::string port = !serial                       ? std::string("card")
                                 : named_port(options) != nullptr ? *named_port(options)
                                 : "COM" + std::to_string(options[opt_interface].value.u);
        events->write("run_start", {{"program", "Kestrel"},
                                    {"version", kestrel_version},
                                    {"ports", event_json::array({utf8_text(port)})}});
        reporter.emplace(port, events.get());
    }
    unit_reporter* const told = reporter ? &*reporter : nullptr;
    report_link report;
    std::unique_ptr<unit_link> link;
    std::function<result(link_listener&)> reopen;
    if (serial) {
        auto serial_link = std::make_unique<serial_unit_link>();
        if (const result opened = open_serial_link(*serial_link, options, report, told);
            !opened) {
            report_failed_start(options, *serial_link, report, opened, told);
            end_run_on_link_failure(opened);
        }
        if (const std::uint32_t wait = options[opt_wait_port].value.u; wait != 0) {
            // A port that fails during the run is waited for as long, and the run goes on.
            reopen = [link = serial_link.get(), port = report.port, wait, told,
                      device = serial_device_of(options)](link_listener& listener) {
                return reopen_serial_waiting(*link, port, device, wait, listener, told);
            };
        }
        link = std::move(serial_link);
    } else {
        link = open_card_link(options);
        report.board_type = card.board_type();
    }
    const int status = run_operations(options, *link, report, user_name,
                                      options[opt_verbose].value.u & 0xFFu,
                                      options[opt_safemode].value.b, options[opt_bank0].value.b,
                                      told, std::move(reopen));
    if (told != nullptr) {
        told->run_ended(status);
    }
    process_exit(status);
}
