// The operation state machine: the program's main loop once the link is up. It connects to the
// unit (boot report, then the flash information of all four banks), then serves operations one
// at a time, started by menu keys or, in a command-line run, by the options, until the user
// quits or no operation is left. Answers reach it only through the flags the receiver thread
// raises.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "protocol/pace.h"

enum op_state_value : int {
    stateM2 = -2,  // waiting for the boot report (connecting)
    stateM1 = -1,  // waiting for the flash information of all banks
    state0 = 0,    // idle
    state1 = 1,    // load-to-flash dialog
    state2 = 2,    // read the file, announce the download
    state3 = 3,    // waiting for DL_READY
    state4 = 4,    // waiting for FIRMWARE_INFO_ACK
    state5 = 5,    // send the next chunk
    state6 = 6,    // waiting for DL_ACK / DL_FAIL
    state10 = 10,  // start of the boot wait
    state11 = 11,  // waiting for the boot report after a reboot
    state12 = 12,  // log into the log file
    state13 = 13,  // file upload
    state14 = 14,  // log for viewing
    state20 = 20,  // load-to-EEPROM dialog
};

// One run of the loop, pass by pass, so that a test can drive it with its own clock.
class operation_loop {
public:
    explicit operation_loop(option_table& options) : options_(options) {}

    // Start-up: loader tables, the user, the verbose level, safe mode, the first request.
    void start(const std::string& user_name, std::uint32_t verbose, bool safemode, bool bank0);
    // One pass; false when the loop is to end.
    bool pass();
    // The exit sequence: LOADER_EXIT in loader mode, the receiver told to stop, one second.
    void finish();
    // 0, or in a command-line run in which the connection or an operation failed
    // exit_operation_failed.
    int exit_status() const;

    int op_state = stateM2;
    pace marks{progress_mark_interval_ms};            // progress marks of the waits
    pace boot_requests{boot_request_interval_ms};     // BOOTINFO_REQ while a reboot runs

private:
    void connecting();         // stateM2
    void reading_flash_info(); // stateM1
    void idle();               // state0
    void load_screen(int kind);  // state1, state20
    void boot_started();       // state10
    void boot_waiting();       // state11

    option_table& options_;
    bool keep_going_ = true;
};

// The whole loop: start, passes until the run is over, exit sequence. Returns the run's exit
// status.
int run_operations(option_table& options, const std::string& user_name, std::uint32_t verbose,
                   bool safemode, bool bank0);
