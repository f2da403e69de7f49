// What the loader shows on its way, through the screen the session hands it: the menu once the
// bank records are in or the line is back in loader mode, and the log listing.
#pragma once

#include <cstddef>
#include <cstdint>

class loader_display {
public:
    virtual ~loader_display() = default;

    // The menu drawn afresh (nothing in a command-line run).
    virtual void show_menu() = 0;

    // The log's entries: count entries of entry_length bytes each, in a buffer of buffer_size.
    virtual void list_log(int count, const std::uint8_t* entries, int entry_length,
                          std::size_t buffer_size) = 0;
};
