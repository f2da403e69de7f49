// The file is read in one go and closed again; the image stays until the next download replaces
// it or the run ends.
#include "files/image_file.h"

#include <new>
#include <optional>
#include <stdexcept>

#include "platform/binary_file.h"
#include "platform/file_system.h"
#include "platform/output.h"
#include "platform/visible_text.h"

bool refuse_too_large(const std::string& name, std::uint64_t size) {
    if (size <= max_load_size) {
        return false;
    }
    out_printf("File %s is too large to load (%llu bytes, at most %llu)\n",
               visible_text(name).c_str(),
               static_cast<unsigned long long>(size),
               static_cast<unsigned long long>(max_load_size));
    return true;
}

result load_file_to_memory(const std::string& name, std::vector<std::uint8_t>& image) {
    release_image(image);

    // A directory is refused as Windows refuses to open one; a device or a FIFO is refused too
    // (its open would wait for a writer, and it holds no image).
    const std::optional<file_status> status = get_file_status(name);
    if (!status || status->kind != file_kind::regular) {
        out_printf("Could not open %s \n", visible_text(name).c_str());
        return result::failure(result_kind::io_failed, "Could not open " + name);
    }
    if (refuse_too_large(name, status->size)) {
        return result::failure(result_kind::refused, "File " + name + " is too large to load");
    }
    os_error error;
    bool read = false;
    try {
        read = read_binary_file(name, image, error);
    } catch (const std::bad_alloc&) {
        read = false;
    } catch (const std::length_error&) {
        read = false;
    }
    // A read error part-way would send a truncated image as if it were the whole file; a file
    // that has shrunk since its status was taken is sent as it is now.
    if (!read || image.empty() || image.size() > max_load_size) {
        out_printf("Could not read %s \n", visible_text(name).c_str());
        release_image(image);
        return result::failure(result_kind::io_failed, "Could not read " + name, error);
    }
    return result::success();
}

void release_image(std::vector<std::uint8_t>& image) { std::vector<std::uint8_t>().swap(image); }
