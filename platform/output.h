// Text output of the whole program. Every message, trace and screen goes to standard output
// through out_printf/out_write, so that a test can capture exactly what a user would see. On a
// terminal a transient status line (a transfer's progress) may stand on the cursor's line; it is
// erased before anything else is written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#if defined(__MINGW32__)
#define KESTREL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KESTREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Formats and writes to the current sink; the text is flushed at once, because the receiver
// thread and the main loop both print and a user must see each line as it happens.
void out_printf(const char* format, ...) KESTREL_PRINTF(1, 2);

// Writes bytes verbatim (never used as a format).
void out_write(const char* data, std::size_t size);
inline void out_write(const std::string& text) { out_write(text.data(), text.size()); }

// Where output goes. The default sink writes to standard output. Writes of the two threads that
// print reach it one after the other.
using out_sink = void (*)(const char* data, std::size_t size, void* context);
void out_set_sink(out_sink sink, void* context);
void out_reset_sink();

// True when output reaches a terminal (a console window) that a user watches: the default sink
// is in use and standard output is a terminal.
bool out_is_terminal();

// The width of that terminal in columns; 0 when it is not known.
std::size_t out_terminal_columns();

// Shows `text` as the status line, or puts it in place of the one shown: a carriage return, the
// text, and blanks over the rest of the previous one. The line is only ever drawn on an empty
// line (after a line end), so erasing it leaves the screen as it was; while the last text written
// leaves its line open (a prompt, a trace ending in a carriage return) nothing is drawn. The
// text must fit the terminal's width, or the carriage return cannot take it back.
void out_status(std::string_view text);

// Erases the status line, if one is shown: carriage return, blanks, carriage return. Every
// out_write does the same before it writes.
void out_status_clear();

// The same, written straight to standard output with no lock taken: for a signal handler (the
// one of whoever shows a status line, and one about to print its last words). Async-signal-safe
// on Linux.
void out_status_clear_now() noexcept;
