#include "app/port_open.h"

#include "app/unit_reporter.h"
#include "link/comm_error.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

constexpr std::uint32_t retry_interval_ms = 250;
// A receiver that reported its port's failure ends at once; this is the most it is given.
constexpr std::uint32_t receiver_end_wait_ms = 2000;

bool port_missing(const result& opened) {
    return opened.code == comm_create_failed && is_name_missing(opened.system);
}

}  // namespace

result open_serial_waiting(serial_unit_link& link, const std::string& port_name,
                           const std::function<std::string()>& device, std::uint32_t wait_seconds,
                           unit_reporter* reporter) {
    result opened = link.open(port_name, device());
    if (opened || wait_seconds == 0 || !port_missing(opened)) {
        return opened;
    }
    const std::string shown = visible_text(port_name);
    out_printf("Waiting up to %u s for the port %s to appear\n", static_cast<unsigned>(wait_seconds),
               shown.c_str());
    if (reporter != nullptr) {
        reporter->waiting_for_port(wait_seconds);
    }
    const std::uint64_t wait_ms = std::uint64_t{wait_seconds} * 1000u;
    std::uint64_t waited = 0;
    std::uint32_t last = tick_count_ms();
    while (waited < wait_ms) {
        sleep_ms(retry_interval_ms);
        const std::uint32_t now = tick_count_ms();
        waited += now - last;  // counted in steps, so that any wait fits
        last = now;
        opened = link.open(port_name, device());
        if (opened || !port_missing(opened)) {
            return opened;
        }
    }
    out_printf("The port %s did not appear within %u s\n", shown.c_str(),
               static_cast<unsigned>(wait_seconds));
    return opened;
}

result reopen_serial_waiting(serial_unit_link& link, const std::string& port_name,
                             const std::function<std::string()>& device,
                             std::uint32_t wait_seconds, link_listener& listener,
                             unit_reporter* reporter) {
    const std::string shown = visible_text(port_name);
    (void)link.stop(receiver_end_wait_ms);
    out_printf("Waiting up to %u s for the port %s to come back\n",
               static_cast<unsigned>(wait_seconds), shown.c_str());
    if (reporter != nullptr) {
        reporter->waiting_for_port(wait_seconds);
    }
    const std::uint64_t wait_ms = std::uint64_t{wait_seconds} * 1000u;
    std::uint64_t waited = 0;
    std::uint32_t last = tick_count_ms();
    result opened = link.reopen(port_name, device());
    // A port that is there but not yet usable (still being set up) is tried again as well.
    while (!opened && waited < wait_ms) {
        sleep_ms(retry_interval_ms);
        const std::uint32_t now = tick_count_ms();
        waited += now - last;
        last = now;
        opened = link.reopen(port_name, device());
    }
    if (!opened) {
        // The session prints it as the line that ends the run.
        return result::failure(result_kind::link_failed,
                               "The port " + shown + " did not come back within " +
                                   std::to_string(wait_seconds) + " s",
                               opened.system, opened.code);
    }
    if (const result started = link.start(listener); !started) {
        return started;
    }
    out_printf("The port %s is back\n", shown.c_str());
    return result::success();
}
