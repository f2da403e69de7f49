// A download as the unit's boot loader takes it: the FIRMWARE_INFO that describes the file,
// then DL_DATA chunks in order, each acknowledged, and at the end the CRC-32 of the whole file
// checked against the one announced. A repeated chunk (the PC's retry after a lost answer) is
// acknowledged again and not stored twice.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/unit_sim/sim_memory.h"

struct download_description {
    std::uint8_t file_type = 0;
    std::uint8_t index = 0;  // bank, or channel index of PA and TC
    std::uint32_t chunk_size = 0;
    std::uint32_t file_size = 0;
    std::uint32_t file_crc = 0;
    std::string download_time;
    std::string file_time;
    std::string file_name;
    std::string user;
    std::string comment;
};

// Reads a FIRMWARE_INFO message. nullopt with the reason when it is too short or describes a
// file the unit cannot take (unknown type, bank or channel, unusable chunk size, empty or too
// large for its store).
std::optional<download_description> parse_firmware_info(std::span<const std::uint8_t> message,
                                                         std::string& reason);

class download_session {
public:
    enum class verdict {
        stored,    // chunk taken
        repeated,  // the chunk taken last, sent again: acknowledged, not stored again
        complete,  // last chunk taken and the whole file's CRC-32 matches
        failed,    // the download is over without a file; `reason` says why
    };
    struct chunk_result {
        verdict what = verdict::failed;
        std::uint16_t chunk = 0;  // number the DL_DATA carried
        std::string reason;
    };

    // A new download of the described file; whatever came before is forgotten.
    void begin(download_description description);
    // No download (a refused description, or a fault): every chunk fails with this reason.
    void refuse(std::string reason);

    chunk_result take_chunk(std::span<const std::uint8_t> message);

    // The file and its description once take_chunk has said complete.
    const download_description& description() const noexcept { return description_; }
    const std::vector<std::uint8_t>& content() const noexcept { return content_; }

private:
    enum class phase { idle, receiving, finished, refused };

    chunk_result fail(std::uint16_t chunk, std::string reason);

    phase phase_ = phase::idle;
    download_description description_;
    std::vector<std::uint8_t> content_;
    std::uint32_t next_chunk_ = 0;
    chunk_result last_;  // answer to the last chunk taken, repeated for a retry
    std::string refusal_ = "no download announced";
};

// Puts a completed download where it belongs: into the bank's image with its descriptor and
// notes, or into the EEPROM. False if there is no such store.
bool store_download(unit_memory& memory, const download_description& description,
                    const std::vector<std::uint8_t>& content);

// Stores an image given before the unit starts as a download of it at the start of the unit's
// clock. Empty when stored, otherwise what is wrong with it.
std::string preload_image(unit_memory& memory, const image_preload& preload);
