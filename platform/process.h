// Ending the process. Every deliberate end of a run goes through here, so that what must be
// undone (the console's input mode) is undone on every way out, and so that a test can observe
// the status instead of dying.
#pragma once

// Ends the process normally with the status (-1 reads as 255 on Linux and 0xFFFFFFFF on
// Windows): the handlers of process_at_exit run, then static objects are destroyed.
[[noreturn]] void process_exit(int status);

// Ends the process at once with the status, from any thread, while other threads may still
// run: output is flushed and the handlers of process_at_exit run, but static objects are left
// alone (another thread may be using them).
[[noreturn]] void process_exit_now(int status);

// Registers a handler to run once on every way out of the process through the two functions
// above (and on a normal return from main). Handlers run in reverse order of registration.
void process_at_exit(void (*handler)());

// Registers a handler to run when a signal ends the process: Ctrl-C, SIGTERM, SIGHUP, SIGQUIT
// and the crash signals on Linux; Ctrl-C, Ctrl-Break and the console's close, logoff and
// shutdown events on Windows. Handlers run once, in reverse order of registration, and then the
// process ends as the signal would have ended it. On Linux they run inside the signal handler:
// they may only make async-signal-safe calls.
void process_on_signal(void (*handler)());

// While the handlers of process_at_exit or process_on_signal run: the status the process ends
// with. For an end by a signal it is the status a shell shows, 128 + the signal's number on
// Linux, and the exit code of a console event on Windows. Async-signal-safe.
int process_ending_status() noexcept;

// Catches those signals from now on, even before any handler is registered. To be called at
// start, before a driver library may put a fault handler of its own in front (one that passes on
// what is not its own): installed later, the program's handler would take that handler's place.
void process_catch_signals();

// A test may catch the end of the run: the hook is called instead of ending the process and
// must not return (it throws). Pass nullptr to restore the real exit.
using exit_hook = void (*)(int status);
void process_set_exit_hook(exit_hook hook);
