// What each backend provides for ending the process by a signal: installing its handler once,
// and the handlers the rest of the platform layer registered with process_on_signal, which the
// backend's handler runs.
#pragma once

// Installs the backend's signal (or console event) handler; later calls do nothing.
void os_install_signal_handler();

// Runs the registered handlers once, in reverse order of registration, with the status the
// process ends with. Async-signal-safe.
void run_signal_handlers(int ending_status) noexcept;
