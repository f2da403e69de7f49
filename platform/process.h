// Ending the process. Every deliberate end of a run goes through process_exit, so that the
// console can be restored on the way out and a test can observe the status instead of dying.
#pragma once

// Ends the process with the status (-1 reads as 255 on Linux and 0xFFFFFFFF on Windows).
// Static objects are destroyed and the handlers of process_at_exit run.
[[noreturn]] void process_exit(int status);

// A test may catch the end of the run: the hook is called instead of ending the process and
// must not return (it throws). Pass nullptr to restore the real exit.
using exit_hook = void (*)(int status);
void process_set_exit_hook(exit_hook hook);
