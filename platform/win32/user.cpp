// Win32 user name: GetUserNameA into 100 bytes, empty when the call fails.
#include "platform/user.h"

#include <windows.h>

std::string current_user_name() {
    char name[100] = {};
    DWORD size = sizeof name;
    if (!GetUserNameA(name, &size)) {
        return "";
    }
    name[sizeof name - 1] = '\0';
    return name;
}
