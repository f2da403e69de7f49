#include "console/menu.h"

#include "console/keys.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"

namespace {

bool is(int key, char letter) { return key == letter || key == letter - 'A' + 'a'; }

// The operation keys of a connected unit in loader mode (or on the card).
user_request connected_key(const unit& u, int key) {
    struct letter_request {
        char letter;
        user_request request;
    };
    static constexpr letter_request letters[] = {
        {'B', user_request::boot},       {'L', user_request::load_flash},
        {'E', user_request::load_eeprom}, {'G', user_request::get_flash},
        {'H', user_request::get_eeprom},  {'T', user_request::get_log},
        {'W', user_request::view_log},    {'S', user_request::show_banks},
        {'U', user_request::scan_directory},
    };
    for (const letter_request& l : letters) {
        if (is(key, l.letter)) {
            return l.request;
        }
    }
    if (key == '#' && u.link.is_serial()) {
        return u.link.mode() == line_mode::loader ? user_request::enter_remote_access
                                                  : user_request::leave_remote_access;
    }
    return user_request::none;
}

// The keys that mean the same in every state of the link.
user_request common_key(int key) {
    if (is(key, 'Q')) {
        return user_request::quit;
    }
    if (is(key, 'V')) {
        return user_request::verbose;
    }
    if (is(key, 'R')) {
        return user_request::redraw;
    }
    return user_request::none;
}

}  // namespace

key_request handle_key(const unit& u) {
    if (!key_waiting()) {
        return {};
    }
    const int key = read_key();
    if (key < 0) {
        return {};  // input has ended: no key
    }
    // A command-line run has no answers for a dialog: only Q and q act then.
    if (u.op.batch_mode != 0) {
        return {is(key, 'Q') ? user_request::quit : user_request::none};
    }
    switch (u.op.link_state) {
    case link_connected:
        if (u.link.mode() == line_mode::remote_access) {
            // Remote access: every key but '#' goes to the unit and means nothing here.
            if (key == '#') {
                return {user_request::leave_remote_access};
            }
            return {user_request::remote_key, static_cast<std::uint8_t>(key)};
        }
        if (const user_request request = connected_key(u, key); request != user_request::none) {
            return {request};
        }
        break;
    case link_not_connected:
        if (is(key, 'C')) {
            return {user_request::reconnect};
        }
        break;
    default:
        break;  // connecting: only the keys below
    }
    return {common_key(key)};
}
