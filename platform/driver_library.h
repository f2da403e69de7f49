// Binding the card's driver library at run time: its names on this system, loading it by name
// from the system's library search path, looking up its entry points, releasing it; and the
// event object the older driver interface is given when it configures the card.
#pragma once

#include "platform/os_error.h"

// Library names: the newer interface is looked for first, the older second.
const char* admxrc3_library_name();
const char* admxrc2_library_name();

// A loaded library; nullptr is none.
using library_handle = void*;

// An entry point as the system gives it; the caller converts it to the entry's own type.
using library_entry = void (*)();

// Loads the library; nullptr when it cannot be loaded (error then says why).
library_handle library_load(const char* name, os_error& error);

// The entry point of that name, or nullptr when the library has none.
library_entry library_lookup(library_handle library, const char* name);

// Releases the library; false when the system refuses (error then says why).
bool library_free(library_handle library, os_error& error);

// An unnamed event, reset by hand and not signalled when made, released when the object goes.
// The driver is given its native handle (a Windows event object on Windows).
class driver_event {
public:
    driver_event();
    ~driver_event();
    driver_event(const driver_event&) = delete;
    driver_event& operator=(const driver_event&) = delete;

    // What the driver is given; nullptr when the system could not make the event.
    void* native() const { return handle_; }

private:
    void* handle_;
};
