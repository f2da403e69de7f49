// Text output of the whole program. Every message, trace and screen goes to standard output
// through out_printf/out_write, so that a test can capture exactly what a user would see. On a
// terminal a transient status line (a transfer's progress) may stand on the cursor's line; it is
// erased before anything else is written.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// The default sink writes to standard error instead of standard output, from now on (standard
// output then carries something else: the run's events for a script).
void out_use_standard_error();

// True when output reaches a terminal (a console window) that a user watches: the default sink
// is in use and its stream is a terminal.
bool out_is_terminal();

// The width of that terminal in columns, and its height in rows; 0 when not known.
std::size_t out_terminal_columns();
std::size_t out_terminal_rows();

// The lines of one unit among several, written by this thread: from now on every line the
// thread writes starts with `prefix` ("[COM3] "), carriage returns are left out, and a line
// reaches the output only once it is complete, so that the lines of two threads never mix
// within a line. An empty prefix writes as written again.
void out_set_thread_prefix(std::string prefix);
const std::string& out_thread_prefix();
// Writes what this thread has left of a line that has not ended, with a line end.
void out_end_thread_line();

// The procedure, run on another thread with this thread's prefix; what it leaves of a line is
// written when it ends.
std::function<int()> out_with_this_prefix(std::function<int()> body);

// Shows `text` as the status line, or puts it in place of the one shown: a carriage return, the
// text, and blanks over the rest of the previous one. The line is only ever drawn on an empty
// line (after a line end), so erasing it leaves the screen as it was; while the last text written
// leaves its line open (a prompt, a trace ending in a carriage return) nothing is drawn. The
// text must fit the terminal's width, or the carriage return cannot take it back.
void out_status(std::string_view text);

// Erases the status line, if one is shown: carriage return, blanks, carriage return. Every
// out_write does the same before it writes.
void out_status_clear();

// On a terminal, shows the lines as a block under everything written (one line per unit of a
// run, each ended by a line end), or puts them in place of the block shown: the cursor goes
// back up over the old block, which is cleared, and the new one is drawn. While a block is
// shown, whatever else is written goes above it, and the block is drawn again below. Each line
// must fit the terminal's width. Nothing when the output is no terminal; an empty list takes
// the block away.
void out_status_block(const std::vector<std::string>& lines);

// The same, written straight to standard output with no lock taken: for a signal handler (the
// one of whoever shows a status line, and one about to print its last words). Async-signal-safe
// on Linux.
void out_status_clear_now() noexcept;
