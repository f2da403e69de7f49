#include "tools/unit_sim/sim_download.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "link/byte_order.h"
#include "link/crc.h"
#include "protocol/fixed_text.h"
#include "protocol/messages.h"

namespace {

// A text field of FIRMWARE_INFO: up to its first NUL, at most 25 characters (the last of its
// 26 bytes is the NUL of a full field).
std::string text_at(std::span<const std::uint8_t> message, std::size_t offset) {
    const auto* begin = reinterpret_cast<const char*>(message.data() + offset);
    std::size_t length = 0;
    while (length + 1 < firmware_info_at::text_size && begin[length] != '\0') {
        ++length;
    }
    return std::string(begin, length);
}

std::string number(std::size_t value) {
    return std::to_string(value);
}

std::string hex32(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::optional<download_description> parse_firmware_info(std::span<const std::uint8_t> message,
                                                         std::string& reason) {
    if (message.size() < firmware_info_size) {
        reason = "FIRMWARE_INFO of " + number(message.size()) + " bytes is too short";
        return std::nullopt;
    }
    download_description d;
    d.file_type = message[firmware_info_at::file_type];
    d.index = message[firmware_info_at::bank];
    d.chunk_size = get_be16(message.data() + firmware_info_at::chunk_size);
    d.file_size = get_be32(message.data() + firmware_info_at::file_size);
    d.file_crc = get_be32(message.data() + firmware_info_at::file_crc);
    d.download_time = text_at(message, firmware_info_at::download_time);
    d.file_time = text_at(message, firmware_info_at::file_time);
    d.file_name = text_at(message, firmware_info_at::file_name);
    d.user = text_at(message, firmware_info_at::user);
    d.comment = text_at(message, firmware_info_at::comment);

    const std::size_t capacity = store_capacity(d.file_type);
    const bool single_device =
        d.file_type == file_type_controller || d.file_type == file_type_charger;
    if (capacity == 0) {
        reason = "unknown file type " + number(d.file_type);
    } else if (!single_device && d.index >= bank_records) {
        reason = "no bank or channel index " + number(d.index);
    } else if (d.chunk_size == 0 || d.chunk_size > block_data_capacity) {
        reason =
            "chunk size " + number(d.chunk_size) + " is not 1 to " + number(block_data_capacity);
    } else if (d.file_size == 0 || d.file_size > capacity) {
        reason = "file size " + number(d.file_size) + " is not 1 to " + number(capacity);
    } else {
        return d;
    }
    return std::nullopt;
}

void download_session::begin(download_description description) {
    description_ = std::move(description);
    content_.clear();
    content_.reserve(description_.file_size);
    next_chunk_ = 0;
    phase_ = phase::receiving;
}

void download_session::refuse(std::string reason) {
    phase_ = phase::refused;
    refusal_ = std::move(reason);
    content_.clear();
}

download_session::chunk_result download_session::fail(std::uint16_t chunk, std::string reason) {
    refuse(reason);
    last_ = {verdict::failed, chunk, std::move(reason)};
    return last_;
}

download_session::chunk_result download_session::take_chunk(
    std::span<const std::uint8_t> message) {
    if (message.size() < dl_data_at::data) {
        return {verdict::failed, 0, "DL_DATA of " + number(message.size()) + " bytes is too short"};
    }
    const std::uint16_t chunk = get_be16(message.data() + dl_data_at::chunk_number);
    const std::size_t valid = get_be16(message.data() + dl_data_at::data_length);

    const bool is_last_again = (phase_ == phase::receiving || phase_ == phase::finished) &&
                               next_chunk_ > 0 && chunk == ((next_chunk_ - 1) & 0xFFFFU);
    if (is_last_again) {
        // The PC did not see our answer and sends the chunk again: answer as before.
        chunk_result again = last_;
        if (again.what == verdict::stored || again.what == verdict::complete) {
            again.what = verdict::repeated;
        }
        return again;
    }
    if (phase_ != phase::receiving) {
        // The session stays as it was: a stray chunk does not spoil the answer to a retry.
        return {verdict::failed, chunk,
                phase_ == phase::finished ? std::string("the download is already complete")
                                          : refusal_};
    }
    if (chunk != (next_chunk_ & 0xFFFFU)) {
        return fail(chunk,
                    "chunk " + number(chunk) + " out of order, expected " + number(next_chunk_));
    }
    const std::size_t expected =
        std::min<std::size_t>(description_.chunk_size, description_.file_size - content_.size());
    if (valid != expected) {
        return fail(chunk, "chunk " + number(chunk) + " says " + number(valid) +
                               " valid bytes, expected " + number(expected));
    }
    if (message.size() < dl_data_at::data + valid) {
        return fail(chunk, "chunk " + number(chunk) + " is shorter than its " +
                                  number(valid) + " valid bytes");
    }
    const auto data = message.begin() + dl_data_at::data;
    content_.insert(content_.end(), data, data + static_cast<std::ptrdiff_t>(valid));
    ++next_chunk_;
    if (content_.size() < description_.file_size) {
        last_ = {verdict::stored, chunk, {}};
        return last_;
    }
    const std::uint32_t crc = crc32_file(content_.data(), content_.size(), 0xFFFFFFFFU);
    if (crc != description_.file_crc) {
        return fail(chunk, "CRC-32 of the file is " + hex32(crc) + ", announced " +
                                  hex32(description_.file_crc));
    }
    phase_ = phase::finished;
    last_ = {verdict::complete, chunk, {}};
    return last_;
}

bool store_download(unit_memory& memory, const download_description& description,
                    const std::vector<std::uint8_t>& content) {
    if (stored_image* image = memory.image(description.index, description.file_type)) {
        image->content = content;
        image_descriptor& d = image->descriptor;
        d.status = 0;
        d.crc = description.file_crc;
        d.size = static_cast<std::uint32_t>(content.size());
        put_text_field(d.download_date, description.download_time);
        put_text_field(d.file_date, description.file_time);
        put_text_field(d.file_name, description.file_name);
        image->notes = image_notes{};
        put_text_field(image->notes.user, description.user);
        put_text_field(image->notes.comment, description.comment);
        return true;
    }
    if (eeprom_device* device = memory.eeprom(description.file_type, description.index)) {
        device->content = content;
        return true;
    }
    return false;
}

std::string preload_image(unit_memory& memory, const image_preload& preload) {
    if (preload.file_type != file_type_fpga && preload.file_type != file_type_software) {
        return "file type " + number(preload.file_type) + " is not an image of a bank";
    }
    if (preload.bank >= bank_records) {
        return "there is no bank " + number(preload.bank);
    }
    const std::size_t capacity = store_capacity(preload.file_type);
    if (preload.content.empty() || preload.content.size() > capacity) {
        return "an image of " + number(preload.content.size()) + " bytes does not fit: 1 to " +
               number(capacity);
    }
    download_description d;
    d.file_type = preload.file_type;
    d.index = preload.bank;
    d.file_size = static_cast<std::uint32_t>(preload.content.size());
    d.file_crc = crc32_file(preload.content.data(), preload.content.size(), 0xFFFFFFFFU);
    d.download_time = unit_date_text(0);
    d.file_time = unit_date_text(0);
    d.file_name = preload.file_name;
    d.user = "kestrel-unit";
    d.comment = "preloaded";
    store_download(memory, d, preload.content);
    return {};
}
