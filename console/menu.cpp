#include "console/menu.h"

#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/keys.h"
#include "console/screen.h"
#include "link/link_mode.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/loader_state.h"
#include "protocol/operations.h"
#include "protocol/retry.h"
#include "protocol/senders.h"

namespace {

constexpr std::uint8_t interrupt_mode_byte = '#';  // the unit takes up framed messages
constexpr std::uint8_t polling_mode_byte = 'R';    // the unit leaves framed messages
constexpr std::uint32_t mode_switch_pause_ms = 100;
constexpr int no_key = 0;

// Remote access: the serial line becomes a plain terminal to the unit.
void to_remote_access() {
    send_loader_exit();
    send_loader_exit();
    out_printf("Change to Polling mode\n");
    loader_mode.store(0, std::memory_order_release);
    remote_access.store(1, std::memory_order_release);
    send_raw_byte(polling_mode_byte);
    sleep_ms(mode_switch_pause_ms);
}

// Back to framed loader messages.
void to_loader_mode() {
    remote_access.store(0, std::memory_order_release);
    loader_mode.store(1, std::memory_order_release);
    send_raw_byte(interrupt_mode_byte);
    send_raw_byte(interrupt_mode_byte);
    out_printf("Change to interrupt mode\n");
    show_menu(MENU_REFRESH);
}

bool is(int key, char letter) { return key == letter || key == letter - 'A' + 'a'; }

// Keys of a connected unit in loader mode (or on the card).
void connected_key(int key, int& op_state) {
    if (is(key, 'B')) {
        if (op_state == state0 || op_state == stateM1) {
            if (boot_dialog(0) == 1) {
                op_state = state10;
            } else {
                show_menu(MENU_PLAIN);
            }
        }
    } else if (is(key, 'L')) {
        op_state = state1;
    } else if (is(key, 'E')) {
        op_state = state20;
    } else if (is(key, 'G')) {
        get_dialog(dialog_flash, op_state);
    } else if (is(key, 'H')) {
        get_dialog(dialog_eeprom, op_state);
    } else if (is(key, 'T')) {
        start_get_log(op_state);
    } else if (is(key, 'W')) {
        start_get_log(op_state);
        op_state = state14;
    } else if (is(key, 'S')) {
        if (op_state <= 0 && firmware_operation.batch_mode == 0) {
            show_menu(MENU_WITH_BANKS);
        }
    } else if (is(key, 'U')) {
        if (op_state <= 0) {
            scan_directory();
            show_menu(MENU_NO_HEADER);
        }
    } else if (key == '#' && serial_link.load(std::memory_order_acquire) != 0) {
        if (loader_mode.load(std::memory_order_acquire) == 1) {
            to_remote_access();
        } else {
            to_loader_mode();
            sleep_ms(mode_switch_pause_ms);
        }
    }
}

}  // namespace

int handle_key(int& op_state) {
    if (!key_waiting()) {
        return 1;
    }
    int key = read_key();
    if (key < 0) {
        return 1;  // input has ended: no key
    }

    // A command-line run has no answers for a dialog: only Q and q act then.
    if (firmware_operation.batch_mode != 0) {
        return is(key, 'Q') ? 0 : 1;
    }

    switch (firmware_operation.link_state) {
    case link_connected:
        if (remote_access.load(std::memory_order_acquire) != 0 &&
            loader_mode.load(std::memory_order_acquire) == 0) {
            // Remote access: every key but '#' goes to the unit and means nothing here.
            if (key == '#') {
                to_loader_mode();
            } else {
                send_raw_byte(static_cast<std::uint8_t>(key));
            }
            key = no_key;
        } else {
            connected_key(key, op_state);
        }
        break;
    case link_not_connected:
        if (is(key, 'C')) {
            op_state = stateM2;
            budgets.stateM2 = stateM2_start_budget;
            firmware_operation.link_state = link_connecting;
            purge_link();
            show_menu(MENU_REFRESH);
        }
        break;
    default:
        break;  // connecting: only the keys below
    }

    if (is(key, 'Q')) {
        return 0;
    }
    if (is(key, 'V')) {
        verbose_dialog();
        show_menu(MENU_REFRESH);
    } else if (is(key, 'R')) {
        show_menu(MENU_REFRESH);
    }
    return 1;
}
