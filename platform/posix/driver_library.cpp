// Driver library names on Linux: shared objects on the library search path.
#include "platform/driver_library.h"

const char* admxrc3_library_name() { return "libadmxrc3.so"; }
const char* admxrc2_library_name() { return "libadmxrc.so"; }
