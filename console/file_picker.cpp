// The file picker lists the result of a directory search and, for a choice, searches again:
// the number typed refers to the position in that second search, which normally repeats the
// listing just shown.
#include "console/file_picker.h"

#include <optional>

#include "console/date_text.h"
#include "console/input.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

// A time the system did not give, or that local time cannot show, keeps the column's width.
std::string entry_date(const directory_entry& entry) {
    if (!entry.write_time) {
        return date_text_unknown();
    }
    const auto local = local_time(*entry.write_time);
    return local ? date_text(*local) : date_text_unknown();
}

void print_listing(const std::vector<directory_entry>& entries) {
    out_write("  Name                            Size Time\n\n");
    int number = 0;
    for (const directory_entry& entry : entries) {
        ++number;
        // The full 64-bit size, so that a file above 2 GiB does not show as negative.
        // A file name may hold any byte but '/': shown, never obeyed.
        out_printf("%3d  %-30s %15llu %s\n", number, visible_text(entry.name).c_str(),
                   static_cast<unsigned long long>(entry.size), entry_date(entry).c_str());
    }
}

// The name at position `number` (counted from 1) of a new search for the pattern.
std::optional<std::string> entry_at(const char* pattern, int number) {
    if (number < 1) {
        return std::nullopt;
    }
    std::vector<directory_entry> entries = find_entries(pattern);
    if (static_cast<std::size_t>(number) > entries.size()) {
        return std::nullopt;
    }
    return std::move(entries[static_cast<std::size_t>(number) - 1].name);
}

}  // namespace

pick_result pick_file(const char* pattern, std::string* chosen, std::size_t limit) {
    out_write("\n");
    const std::vector<directory_entry> entries = find_entries(pattern);
    if (entries.empty()) {
        out_printf("  No %s files in current directory\n", pattern);
        return pick_result::no_match;
    }
    print_listing(entries);
    if (chosen == nullptr) {
        return pick_result::chosen;
    }

    out_write("\n  Type in the associated file no\n");
    chosen->clear();
    int number = 0;
    std::optional<std::string> name;
    if (read_number(number) == 1) {
        name = entry_at(pattern, number);
    }
    if (!name) {
        out_write("\n  File not found\n");
        return pick_result::nothing;
    }
    // A shortened name would be the name of another file, or of none.
    if (limit != 0 && name->size() >= limit) {
        out_printf("\n  File name too long (%zu characters, at most %zu): %s\n", name->size(),
                   limit - 1, visible_text(*name).c_str());
        return pick_result::nothing;
    }
    *chosen = std::move(*name);
    out_printf("\n  Filename: %s\n", visible_text(*chosen).c_str());
    return pick_result::chosen;
}

pick_result scan_directory() {
    pick_file("*.bin");
    pick_file("*.srec");
    return pick_file("*.eeprom");
}
