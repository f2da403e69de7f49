// The file is read in one go and closed again; the buffer stays until the next download
// replaces it or the run ends.
#include "files/image_file.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/output.h"

std::vector<std::uint8_t> file_buffer;

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

}  // namespace

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
