// The menu keys, read once per pass of the main loop without ever waiting: a key starts a
// dialog, redraws the screen, or sets the op state that the state machine then drives.
#pragma once

// Returns 0 when the user asked to quit, 1 otherwise.
int handle_key(int& op_state);
