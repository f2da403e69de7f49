// The receiver ("sucker") thread: it takes in what the unit sends, finds complete messages and
// hands each to the dispatcher, while the main thread runs the menu and the state machine. Also
// the one way a normal run ends: stop the receiver, then end the process.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/frame.h"
#include "platform/thread.h"

// Receive buffer of whichever receiver runs, and (serial link) how many bytes it holds. Only
// the receiver thread touches them.
extern std::array<std::uint8_t, rx_buffer_size> rx_buffer;
extern std::size_t rx_fill;

// When the unit was last heard from (any byte on the serial link, any message on the card),
// stamped by the receiver thread; the keep-alive warns of a long silence.
extern std::atomic<std::uint32_t> last_receive_tick;

// The thread start-up makes for the receiver.
extern os_thread receiver_thread;

// Where received messages go: (message at its DA byte, length field, SA, CMD, SUB). Start-up
// hands the receiver the program's dispatcher; until then (and with nullptr) messages are
// dropped.
using message_handler = void (*)(const std::uint8_t* message, std::uint16_t length,
                                 std::uint8_t sa, std::uint8_t cmd, std::uint8_t sub);
void set_message_handler(message_handler handler);

// The trace level the receivers print their traces by, read as they go; start-up hands them the
// program's. Until then (and with nullptr) they trace nothing.
void set_receiver_trace_level(const std::atomic<std::uint8_t>* level);
int receiver_trace_level();

// Hands a received message to the handler and wakes a main loop waiting for it.
void dispatch_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                      std::uint8_t cmd, std::uint8_t sub);

// How many messages have been handed on so far.
std::uint64_t messages_dispatched();
// Waits up to `ms` until more than `seen` messages have been handed on; at once when that is
// so already. A waiting state uses it instead of spinning, so that it reacts to an answer at
// once without holding a processor. Tests put their own wait in place (nullptr: the real one).
using message_wait = void (*)(std::uint64_t seen, std::uint32_t ms);
void wait_for_message(std::uint64_t seen, std::uint32_t ms);
void set_message_wait(message_wait wait);

// Thread procedure of the serial link: reader passes until stop_receiver is set, then the port
// is closed. A port failure ends the run (the failure's line, comm_error_exit_status).
int serial_receiver();

// One pass of the serial receiver: read what has arrived and dispatch a complete frame.
void serial_receiver_pass();

// Ends a normal run: unless quiet (a command-line run) prints "\nTerminating sucker thread\n",
// tells the receiver to stop, gives it 100 ms, and ends the process with the status either way.
[[noreturn]] void stop_receiver_and_exit(int status, bool quiet);
