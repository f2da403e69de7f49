#include "console/screen.h"

#include "console/bank_table.h"
#include "console/banner.h"
#include "console/date_text.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"

namespace {
// Below this verbose level the screen is cleared before a header, so that traces stay visible
// at higher levels.
constexpr int keep_screen_level = 4;
}  // namespace

std::string date_text_or_unknown(const std::optional<std::tm>& time) {
    return time ? date_text(*time) : date_text_unknown();
}

void print_header(const unit& u, const char* title) {
    if (u.op.verbose_level < keep_screen_level) {
        console_clear_screen();
    }
    out_printf("%s %*s         ", kestrel_banner, 12, title);
    const std::string date = date_text_or_unknown(local_time_now()) + "\n";
    out_printf("%*s\n\r", 0, date.c_str());
}

void print_status_line(const unit& u) {
    const firmware_operation_record& op = u.op;
    switch (op.link_state) {
    case link_not_connected:
        out_printf("  Not Connected:");
        break;
    case link_connecting:
        out_printf("  Connecting...");
        break;
    case link_connected:
        out_printf("  Connected: Bank %d", int{op.current_bank});
        break;
    default:
        break;
    }
    out_printf("  Verbose level %2d No of Retries %5d \n", int{op.verbose_level}, op.retry_count);
}

void show_menu(const unit& u, int kind) {
    const firmware_operation_record& op = u.op;
    if (op.batch_mode != 0) {
        return;
    }
    if (kind != MENU_NO_HEADER) {
        print_header(u, "Menu");
    }
    if (kind == MENU_WITH_BANKS) {
        print_bank_info(u);
    }
    out_printf("\n\r");
    print_status_line(u);
    out_printf("\n\r");
    if (op.link_state == link_not_connected) {
        out_printf("  C: Re-connect to unit\n\r");
    }
    if (op.link_state == link_connected) {
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
        if (u.link.is_serial()) {
            out_printf("  #: Toggle between loader mode and remote access\n\r");
        }
    }
    out_printf("\n\n\r");
    out_printf("  R: Refresh menu\n\r");
    out_printf("  Q: Quit\n\r");
}
