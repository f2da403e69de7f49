// How the unit is reached right now: over a serial port or the card, framed loader messages or
// plain terminal pass-through, and the one signal from the main loop to the receiver thread.
// Both threads read these flags; store with release and load with acquire.
#pragma once

#include <atomic>

extern std::atomic<int> serial_link;    // 1: the link is a serial port
extern std::atomic<int> loader_mode;    // 1: the serial port carries framed loader messages
extern std::atomic<int> remote_access;  // 1: keys go to the unit's terminal as raw bytes
extern std::atomic<int> stop_receiver;  // 1: the receiver thread is to stop

// Clears all four flags (start-up and tests).
void reset_link_mode();
