// How the card wrapper reaches a driver library: load it by name, look up its entry points,
// release it. The system's loader binds real libraries through the platform layer; the wrapper
// is given a loader, so that it can equally be given entry tables held in memory.
#pragma once

#include "platform/driver_library.h"

class driver_loader {
public:
    virtual ~driver_loader() = default;

    // The library, or nullptr when it cannot be loaded.
    virtual library_handle load(const char* name) = 0;
    // The entry point, or nullptr when the library has none of that name.
    virtual library_entry lookup(library_handle library, const char* name) = 0;
    // False when the library cannot be released.
    virtual bool release(library_handle library) = 0;
};

// Loads from the system's library search path.
driver_loader& system_driver_loader();
