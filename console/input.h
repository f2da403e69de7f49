// The blocking input of every dialog: one key, or a number typed digit by digit. While they
// wait, the idle work the session hands in (the keep-alive) runs on every poll.
#pragma once

#include <functional>

// Runs on every poll of the key waits; none when empty.
void set_key_wait_idle(std::function<void()> idle);

// Waits for a key and returns its code (the caller looks at the low 8 bits), not echoed. When
// input has ended for good, returns 'q' so that every question is cancelled rather than
// waited on for ever.
int wait_key();

// Reads a number: digits are echoed and added, Enter (13 or 10) ends it with result 1, q or Q
// cancels it with result -1; key 0 is ignored, any other key is echoed and otherwise ignored.
int read_number(int& number);
