// Dispatcher of the messages the unit sends: ExecuteCommand stores each answer's payload in the
// shared loader state and then raises the event flag the main loop waits for. It runs on the
// receiver thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Handles one complete message. message points at its DA byte and length + 5 bytes are readable
// there; SA, CMD and SUB are message bytes 1, 4 and 5. Messages not meant for the loader
// (SA other than 0x2A or CMD other than 0x55) are ignored without a trace. A message whose
// declared sizes do not fit its receiving area, or which is too short for the parameters it is
// read for, is dropped whole (nothing stored, no flag) with a trace at verbose level 1 and above.
void ExecuteCommand(const std::uint8_t* message, std::uint16_t length, std::uint8_t SA,
                    std::uint8_t CMD, std::uint8_t SUB);

