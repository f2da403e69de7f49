#include "console/screen.h"

#include "console/bank_table.h"
#include "console/banner.h"
#include "console/date_text.h"
#include "link/link_mode.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/output.h"
#include "protocol/loader_state.h"

namespace {
// Below this verbose level the screen is cleared before a header, so that traces stay visible
// at higher levels.
constexpr int keep_screen_level = 4;
}  // namespace

std::string date_text_or_unknown(const std::optional<std::tm>& time) {
    return time ? date_text(*time) : date_text_unknown();
}

void print_header(const char* title) {
    if (firmware_operation.verbose_level < keep_screen_level) {
        console_clear_screen();
    }
    out_printf("%s %*s         ", kestrel_banner, 12, title);
    const std::string date = date_text_or_unknown(local_time_now()) + "\n";
    out_printf("%*s\n\r", 0, date.c_str());
}

void print_status_line() {
    switch (firmware_operation.link_state) {
    case link_not_connected:
        out_printf("  Not Connected:");
        break;
    case link_connecting:
        out_printf("  Connecting...");
        break;
    case link_connected:
        out_printf("  Connected: Bank %d", int{firmware_operation.current_bank.load()});
        break;
    default:
        break;
    }
    out_printf("  Verbose level %2d No of Retries %5d \n",
               int{firmware_operation.verbose_level.load()}, firmware_operation.retry_count);
}

void show_menu(int kind) {
    if (firmware_operation.batch_mode != 0) {
        return;
    }
    if (kind != MENU_NO_HEADER) {
        print_header("Menu");
    }
    if (kind == MENU_WITH_BANKS) {
        print_bank_info();
    }
    out_printf("\n\r");
    print_status_line();
    out_printf("\n\r");
    if (firmware_operation.link_state == link_not_connected) {
        out_printf("  C: Re-connect to unit\n\r");
    }
    if (firmware_operation.link_state == link_connected) {
        out_printf("  B: Boot unit\n\r");
        out_printf("  L: Load file to flash\n\r");
        out_printf("  E: Load file to eeprom\n\r");
        out_printf("  G: Get file from flash\n\r");
        out_printf("  H: Get file from eeprom\n\r");
        out_printf("  S: Show file information in flash\n\r");
        out_printf("  T: Get log\n\r");
        out_printf("  W: View log\n\r");
        out_printf("  V: Verbose level\n\r");
        out_printf("  U: Scan directory\n\r");
        if (serial_link.load(std::memory_order_acquire) != 0) {
            out_printf("  #: Toggle between loader mode and remote access\n\r");
        }
    }
    out_printf("\n\n\r");
    out_printf("  R: Refresh menu\n\r");
    out_printf("  Q: Quit\n\r");
}
