// Text output of the whole program. Every message, trace and screen goes to standard output
// through out_printf/out_write, so that a test can capture exactly what a user would see.
#pragma once

#include <cstddef>
#include <string>

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

// Where output goes. The default sink writes to standard output. A sink must be safe to call
// from two threads at once.
using out_sink = void (*)(const char* data, std::size_t size, void* context);
void out_set_sink(out_sink sink, void* context);
void out_reset_sink();
