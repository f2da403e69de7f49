// Win32 local time: localtime_s, safe beside the receiver thread.
#include "platform/local_time.h"

std::optional<std::tm> local_time(std::time_t when) {
    std::tm result{};
    if (localtime_s(&result, &when) != 0) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::tm> local_time_now() { return local_time(std::time(nullptr)); }
