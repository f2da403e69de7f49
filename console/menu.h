// The menu keys, read once per pass of the main loop without ever waiting. A key is turned into
// what the user asks for; the session decides what comes of it.
#pragma once

#include <cstdint>

enum class user_request {
    none,            // no key, or one that means nothing now
    quit,            // Q
    boot,            // B
    load_flash,      // L
    load_eeprom,     // E
    get_flash,       // G
    get_eeprom,      // H
    get_log,         // T
    view_log,        // W
    show_banks,      // S
    scan_directory,  // U
    enter_remote_access,  // # in loader mode: to remote access
    leave_remote_access,  // # outside loader mode: back to it
    remote_key,      // any other key in remote access: the key goes to the unit
    reconnect,       // C, when the connection failed
    verbose,         // V
    redraw,          // R
};

struct unit;

struct key_request {
    user_request request = user_request::none;
    std::uint8_t key = 0;  // the key itself, for remote_key
};

// Reads one key if one is waiting and says what it asks for. In a command-line run only Q
// means anything; in remote access every key but '#' is the unit's.
key_request handle_key(const unit& u);
