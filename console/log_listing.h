// The unit's log on screen, once all of it has arrived.
#pragma once

#include <cstddef>
#include <cstdint>

// Prints "\n\r", then each entry as "%2d: %s\n", numbered from 0; entries follow each other at
// a stride of entry_length bytes and end at their NUL or their slot's end. Only entries whose
// slot lies wholly within the buffer's buffer_size bytes are printed, whatever count says; a
// count or length of 0 or less prints "\n\r" alone. Returns 0.
int print_log_entries(int count, const std::uint8_t* entries, int entry_length,
                      std::size_t buffer_size);
