// The file picker lists the result of a directory search and, for a choice, searches again:
// the number typed refers to the position in that second search, which normally repeats the
// listing just shown.
#include "console/file_picker.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "console/date_text.h"
#include "console/input.h"
#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/output.h"

std::vector<std::uint8_t> file_buffer;

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
        out_printf("%3d  %-30s %15llu %s\n", number, entry.name.c_str(),
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

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

}  // namespace

int pick_file(const char* pattern, std::string* chosen, std::size_t limit) {
    out_write("\n");
    const std::vector<directory_entry> entries = find_entries(pattern);
    if (entries.empty()) {
        out_printf("  No %s files in current directory\n", pattern);
        return pick_no_match;
    }
    print_listing(entries);
    if (chosen == nullptr) {
        return pick_chosen;
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
        return pick_nothing;
    }
    // A shortened name would be the name of another file, or of none.
    if (limit != 0 && name->size() >= limit) {
        out_printf("\n  File name too long (%zu characters, at most %zu): %s\n", name->size(),
                   limit - 1, name->c_str());
        return pick_nothing;
    }
    *chosen = std::move(*name);
    out_printf("\n  Filename: %s\n", chosen->c_str());
    return pick_chosen;
}

int scan_directory() {
    pick_file("*.bin");
    pick_file("*.srec");
    return pick_file("*.eeprom");
}

bool refuse_too_large(const std::string& name, std::uint64_t size) {
    if (size <= max_load_size) {
        return false;
    }
    out_printf("File %s is too large to load (%llu bytes, at most %llu)\n", name.c_str(),
               static_cast<unsigned long long>(size),
               static_cast<unsigned long long>(max_load_size));
    return true;
}

int load_file_to_memory(const std::string& name) {
    release_file_buffer();

    // A directory is refused as Windows refuses to open one.
    const std::optional<file_status> status = get_file_status(name);
    file_handle file(status && status->is_directory ? nullptr : std::fopen(name.c_str(), "rb"));
    if (!file) {
        out_printf("Could not open %s \n", name.c_str());
        return -1;
    }
    if (!status) {
        out_printf("Could not read %s \n", name.c_str());
        return -1;
    }
    if (refuse_too_large(name, status->size)) {
        return -1;
    }

    try {
        file_buffer.resize(static_cast<std::size_t>(status->size));
    } catch (const std::bad_alloc&) {
        release_file_buffer();
        return -1;
    } catch (const std::length_error&) {
        release_file_buffer();
        return -1;
    }
    const std::size_t got =
        file_buffer.empty() ? 0 : std::fread(file_buffer.data(), 1, file_buffer.size(), file.get());
    // A read error part-way would send a truncated image as if it were the whole file; a file
    // that has shrunk since its status was taken is sent as it is now.
    if (got == 0 || std::ferror(file.get()) != 0) {
        out_printf("Could not read %s \n", name.c_str());
        release_file_buffer();
        return -1;
    }
    file_buffer.resize(got);
    return 0;
}

void release_file_buffer() { std::vector<std::uint8_t>().swap(file_buffer); }
