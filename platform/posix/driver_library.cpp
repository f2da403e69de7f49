// Driver libraries on Linux: shared objects found on the library search path, bound with
// dlopen/dlsym. The configuration event is an object of the program's own, a flag the library
// may set; nothing in the program waits on it.
#include "platform/driver_library.h"

#include <dlfcn.h>

#include <atomic>

const char* admxrc3_library_name() { return "libadmxrc3.so"; }
const char* admxrc2_library_name() { return "libadmxrc.so"; }

namespace {
os_error dl_error() {
    const char* text = dlerror();
    return os_error{0, text != nullptr ? text : "unknown error"};
}

struct posix_event {
    std::atomic<int> signalled{0};
};
}  // namespace

library_handle library_load(const char* name, os_error& error) {
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        error = dl_error();
    }
    return library;
}

library_entry library_lookup(library_handle library, const char* name) {
    // A function's address travels through dlsym's object pointer; POSIX guarantees the
    // conversion back.
    return reinterpret_cast<library_entry>(dlsym(library, name));
}

bool library_free(library_handle library, os_error& error) {
    if (dlclose(library) != 0) {
        error = dl_error();
        return false;
    }
    return true;
}

driver_event::driver_event() : handle_(new posix_event) {}

driver_event::~driver_event() { delete static_cast<posix_event*>(handle_); }
