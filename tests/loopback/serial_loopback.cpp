// Talks to the simulated unit over a real serial port, through the program's own serial link,
// receiver thread and dispatcher: built for Linux and for Windows (run under wine, where COMn
// is a wine device linked to the simulator's pseudo-terminal). Prints one line per check and
// exits 0 when every check passed.
//
//   serial_loopback PORT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "link/comm_error.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "protocol/bank_records.h"
#include "protocol/dispatcher.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

bool wait_for(const std::function<bool()>& done, std::uint32_t milliseconds) {
    const std::uint32_t start = tick_count_ms();
    while (!done()) {
        if (tick_count_ms() - start > milliseconds) {
            return false;
        }
        sleep_ms(2);
    }
    return true;
}

template <std::size_t N>
void send(const message_bytes<N>& message) {
    Send_Message(message.data(), message.size(), firmware_operation.verbose_level);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_loopback PORT\n");
        return 2;
    }
    const auto port = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    reset_firmware_operation();
    reset_request_templates();
    set_bank_start_values();
    serial_link = 1;
    loader_mode = 1;
    try {
        check(serial_open(port) == 0, "COM" + std::to_string(port) + " opens");
        os_error error;
        set_message_handler(&ExecuteCommand);
        check(receiver_thread.start(&serial_receiver, error), "receiver thread starts");
        check(receiver_thread.raise_priority(error), "receiver priority");

        serial_purge();
        send(requests.bootinfo_req);
        check(wait_for([] { return firmware_operation.boot_status.load() != 0; }, 3000),
              "BOOTINFO_REQ answered by a boot report");
        check(firmware_operation.current_bank.load() == 1, "the unit runs bank 1");
        firmware_operation.boot_status = 0;

        send(requests.flash_info_req);
        check(wait_for([] { return firmware_operation.flash_info_done.test(); }, 3000),
              "FLASH_INFO_REQ answered by four FLASH_INFO");
        take_bank_reports();
        check(banks[1].fpga.status == 0 && banks[1].fpga.size > 0, "bank 1 holds an FPGA image");
        check(banks[1].fpga.flash_address == 0x86800000u, "bank 1 FPGA image at 0x86800000");
        check(banks[3].fpga.status != 0, "bank 3 is empty");

        // Many requests back to back: every answer arrives, none is lost or merged.
        int answered = 0;
        for (int round = 0; round < 20; ++round) {
            firmware_operation.boot_status = 0;
            send(requests.bootinfo_req);
            if (wait_for([] { return firmware_operation.boot_status.load() != 0; }, 2000)) {
                ++answered;
            }
        }
        check(answered == 20, "20 requests in a row, 20 answers");

        // The last message goes out while the receiver still holds the port open.
        send(requests.loader_exit);
        stop_receiver = 1;
        check(receiver_thread.wait(2000), "receiver stops and closes the port");
        check(serial_port.load() == nullptr, "port closed");
    } catch (const ECommError& e) {
        std::printf("%s", comm_error_line(e).c_str());
        return 1;
    }
    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    return failures == 0 ? 0 : 1;
}
