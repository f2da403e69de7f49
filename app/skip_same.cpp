#include "app/skip_same.h"

#include <cstdio>

#include "files/file_types.h"
#include "link/crc.h"
#include "platform/binary_file.h"
#include "protocol/bank_records.h"
#include "protocol/unit.h"

std::optional<held_image> image_in_bank(const unit& u, std::uint8_t file_type, std::uint8_t bank) {
    if (bank >= bank_records || !bank_reported(u, bank)) {
        return std::nullopt;
    }
    const image_descriptor& image =
        file_type == file_type_fpga ? u.banks[bank].fpga : u.banks[bank].software;
    if (image.status != 0) {
        return std::nullopt;
    }
    return held_image{image.size, image.crc};
}

std::optional<std::string> same_as_held(unit& u, const std::string& file,
                                        const std::optional<held_image>& held,
                                        const std::string& target) {
    u.image.clear();
    os_error error;
    if (!held || !read_binary_file(file, u.image, error) || u.image.size() != held->size) {
        return std::nullopt;
    }
    const std::uint32_t crc = crc32_file(u.image.data(), u.image.size(), 0xFFFFFFFFu);
    if (crc != held->crc) {
        return std::nullopt;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s already holds it: %zu bytes, CRC-32 0x%08X",
                  target.c_str(), u.image.size(), crc);
    return std::string(text);
}
