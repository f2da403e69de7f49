// Win32 directory search: FindFirstFileA and FindNextFileA over the pattern, with the size and
// last-write time the search itself delivers.
#include "platform/directory.h"

#include <windows.h>

namespace {

// 100-nanosecond intervals from 1601-01-01 (FILETIME) to 1970-01-01 (time_t).
constexpr std::uint64_t filetime_at_1970 = 116444736000000000ULL;
constexpr std::uint64_t filetime_per_second = 10000000ULL;

std::optional<std::time_t> to_time_t(const FILETIME& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks == 0) {
        return std::nullopt;
    }
    // Times before 1970 become negative, which local time conversion then refuses.
    const auto since_1970 = static_cast<std::int64_t>(ticks - filetime_at_1970);
    return static_cast<std::time_t>(since_1970 / static_cast<std::int64_t>(filetime_per_second));
}

directory_entry make_entry(const WIN32_FIND_DATAA& found) {
    directory_entry entry;
    entry.name = found.cFileName;
    entry.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entry.write_time = to_time_t(found.ftLastWriteTime);
    return entry;
}

}  // namespace

std::vector<directory_entry> find_entries(const std::string& pattern) {
    std::vector<directory_entry> entries;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        entries.push_back(make_entry(found));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}
