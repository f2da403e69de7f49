// Talks to the simulated unit over a real serial port, through the program's own serial link,
// receiver thread, dispatcher and a unit's inbox: built for Linux and for Windows (run under wine, where COMn
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

#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/senders.h"
#include "protocol/unit.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

// Waits for the answers the receiver hands in until `done` holds or the time is up.
bool wait_for(unit& u, const std::function<bool()>& done, std::uint32_t milliseconds) {
    const std::uint32_t start = tick_count_ms();
    for (;;) {
        take_answers(u);
        if (done()) {
            return true;
        }
        if (tick_count_ms() - start > milliseconds) {
            return false;
        }
        u.inbox.queue().wait(2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_loopback PORT\n");
        return 2;
    }
    const auto port = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    serial_unit_link link;
    const result opened = link.open("COM" + std::to_string(port), serial_device_name(port));
    check(opened.ok(), "COM" + std::to_string(port) + " opens");
    if (!opened) {
        std::printf("%s\n", opened.message.c_str());
        return 1;
    }
    unit u(link);
    check(link.start(u.inbox).ok(), "receiver thread starts");

    check(purge_link(u).ok(), "the line purged");
    send_boot_info_request(u);
    check(wait_for(u, [&u] { return u.op.boot_status != 0; }, 3000),
          "BOOTINFO_REQ answered by a boot report");
    check(u.op.current_bank == 1, "the unit runs bank 1");
    u.op.boot_status = 0;

    send_flash_info_request(u);
    check(wait_for(u, [&u] { return u.op.flash_info_done.test(); }, 3000),
          "FLASH_INFO_REQ answered by four FLASH_INFO");
    take_bank_reports(u);
    check(u.banks[1].fpga.status == 0 && u.banks[1].fpga.size > 0, "bank 1 holds an FPGA image");
    check(u.banks[1].fpga.flash_address == 0x86800000u, "bank 1 FPGA image at 0x86800000");
    check(u.banks[3].fpga.status != 0, "bank 3 is empty");

    // Many requests back to back: every answer arrives, none is lost or merged.
    int answered = 0;
    for (int round = 0; round < 20; ++round) {
        u.op.boot_status = 0;
        send_boot_info_request(u);
        if (wait_for(u, [&u] { return u.op.boot_status != 0; }, 2000)) {
            ++answered;
        }
    }
    check(answered == 20, "20 requests in a row, 20 answers");

    // The last message goes out while the receiver still holds the port open.
    send_loader_exit(u);
    check(link.stop(2000), "receiver stops and closes the port");
    take_answers(u);
    check(!u.link_failure, "no failure of the port");
    if (u.link_failure) {
        std::printf("%s\n", u.link_failure->message.c_str());
    }
    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    return failures == 0 ? 0 : 1;
}
