// Driver library names on Windows: DLLs found by the system's DLL search.
#include "platform/driver_library.h"

const char* admxrc3_library_name() { return "admxrc3.dll"; }
const char* admxrc2_library_name() { return "admxrc.dll"; }
