// Driver libraries on Windows: DLLs found by the system's DLL search, bound with LoadLibraryA
// and GetProcAddress. The configuration event is a Win32 event object.
#include "platform/driver_library.h"

#include <windows.h>

const char* admxrc3_library_name() { return "admxrc3.dll"; }
const char* admxrc2_library_name() { return "admxrc.dll"; }

library_handle library_load(const char* name, os_error& error) {
    HMODULE module = LoadLibraryA(name);
    if (module == nullptr) {
        error = last_os_error();
    }
    return reinterpret_cast<library_handle>(module);
}

library_entry library_lookup(library_handle library, const char* name) {
    // FARPROC to a function pointer without arguments: the caller converts it to the entry's
    // own type.
    return reinterpret_cast<library_entry>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool library_free(library_handle library, os_error& error) {
    if (FreeLibrary(static_cast<HMODULE>(library)) == 0) {
        error = last_os_error();
        return false;
    }
    return true;
}

driver_event::driver_event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

driver_event::~driver_event() {
    if (handle_ != nullptr) {
        CloseHandle(handle_);
    }
}
