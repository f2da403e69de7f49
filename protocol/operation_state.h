// The states of an operation, named by what each waits for or does. The loop owns the current
// one; each state's step moves it on. In the numbering the traces and the loader's description
// use, stateM2 is -2, stateM1 is -1 and stateN is N: awaiting_boot_report (stateM2),
// awaiting_bank_records (stateM1), idle (state0), load_flash_dialog (state1),
// preparing_download (state2), awaiting_dl_ready (state3), awaiting_info_ack (state4),
// sending_chunk (state5), awaiting_chunk_answer (state6), boot_requested (state10),
// awaiting_boot (state11), fetching_log (state12), uploading (state13),
// fetching_log_to_view (state14), load_eeprom_dialog (state20).
#pragma once

enum class operation_state : int {
    awaiting_boot_report = -2,   // connecting: the unit's boot report
    awaiting_bank_records = -1,  // the flash information of all four banks
    idle = 0,                    // the menu is shown; command-line operations start here
    load_flash_dialog = 1,       // the load dialog for a flash bank
    preparing_download = 2,      // the file read, its CRC-32, DL_REQ
    awaiting_dl_ready = 3,       // the unit's boot loader ready for the download
    awaiting_info_ack = 4,       // FIRMWARE_INFO_ACK
    sending_chunk = 5,           // the next chunk goes out
    awaiting_chunk_answer = 6,   // DL_ACK or DL_FAIL
    boot_requested = 10,         // a reboot was asked for
    awaiting_boot = 11,          // the boot report after the reboot
    fetching_log = 12,           // the log, into log.txt
    uploading = 13,              // a file from the unit
    fetching_log_to_view = 14,   // the log, into log.txt and then listed
    load_eeprom_dialog = 20,     // the load dialog for an EEPROM
};

// The number of a state as the traces print it.
constexpr int state_number(operation_state state) noexcept { return static_cast<int>(state); }
