#include "app/startup.h"

#include <string>

#include "app/options.h"
#include "link/comm_error.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/driver_library.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/user.h"
#include "protocol/operations.h"

namespace {

constexpr std::uint32_t refused_port_pause_ms = 3000;

// The card link: the driver library is looked for where the system finds libraries. Without
// it there is no card to talk to.
[[noreturn]] void open_card_link() {
    out_printf("%s not found.\n", admxrc2_library_name());
    process_exit(exit_no_card);
}

void open_serial_link(std::uint32_t port_number) {
    loader_mode.store(1, std::memory_order_release);
    serial_link.store(1, std::memory_order_release);
    if (serial_open(port_number) != 0) {
        out_printf("Initialize COM %d Failed\n", static_cast<int>(port_number));
        sleep_ms(refused_port_pause_ms);
        process_exit(exit_bad_port_number);
    }
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

}  // namespace

void kestrel_main(int argc, const char* const* argv) {
    const std::string user_name = current_user_name();

    option_table options;
    build_option_table(options);
    arg_block block = make_arg_block(options);
    parse_command_line(block, argc, argv);

    stop_receiver.store(0, std::memory_order_release);
    const std::uint32_t interface = options[opt_interface].value.u;
    int status = 0;
    try {
        if (interface == 0) {
            open_card_link();
        }
        open_serial_link(interface);
        console_open();
        start_receiver(&serial_receiver);
        status = run_operations(options, user_name, options[opt_verbose].value.u & 0xFFu,
                       options[opt_safemode].value.b, options[opt_bank0].value.b);
    } catch (const ECommError& error) {
        end_run_on_comm_error(error);
    }
    stop_receiver_and_exit(status);
}
