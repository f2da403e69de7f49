#include "tools/unit_sim/sim_samples.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "link/crc.h"
#include "protocol/fixed_text.h"
#include "protocol/messages.h"

namespace {

constexpr std::uint32_t flash_base = 0x86000000U;
constexpr std::uint32_t bank_span = 0x800000U;        // 8 MiB per bank
constexpr std::uint32_t software_offset = 0x200000U;  // software image 2 MiB into its bank
constexpr std::uint32_t no_valid_image = 1;
constexpr long long day = 24 * 3600;

using bytes_t = std::vector<std::uint8_t>;

// Deterministic filler: the same seed gives the same bytes on every run and every host.
class filler {
public:
    // Xorshift stays at zero once there: the one seed that would start it there starts at 1.
    explicit filler(std::uint32_t seed) : state_(seed * 2654435761U + 1U) {
        if (state_ == 0) {
            state_ = 1;
        }
    }
    std::uint8_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<std::uint8_t>(state_ >> 8);
    }

private:
    std::uint32_t state_;
};

// Byte by byte: a range insert here makes the optimiser of g++ 12 warn of a write past the end
// that cannot happen.
void append_text(bytes_t& out, std::string_view text) {
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

// An FPGA bitstream of the given size: pad words, the sync word, a NOOP, a tag naming the
// design, then configuration data.
bytes_t fpga_bitstream(std::size_t size, std::uint32_t seed, std::string_view tag) {
    bytes_t out(32, 0xFF);
    for (const std::uint8_t b : {0xAA, 0x99, 0x55, 0x66, 0x20, 0x00, 0x00, 0x00}) {
        out.push_back(b);
    }
    append_text(out, tag);
    out.push_back(0);
    filler fill(seed);
    while (out.size() < size) {
        out.push_back(fill.next());
    }
    out.resize(size);
    return out;
}

// One S-record line: type, byte count, address, data, checksum (ones' complement of the low
// byte of the sum of count, address and data bytes).
std::string srec_line(char type, std::size_t address_bytes, std::uint32_t address,
                      const std::uint8_t* data, std::size_t count) {
    bytes_t body;
    body.push_back(static_cast<std::uint8_t>(address_bytes + count + 1));
    for (std::size_t i = address_bytes; i-- > 0;) {
        body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    }
    body.insert(body.end(), data, data + count);
    unsigned sum = 0;
    for (const std::uint8_t b : body) {
        sum += b;
    }
    body.push_back(static_cast<std::uint8_t>(~sum));
    std::string line = "S";
    line += type;
    char hex[3];
    for (const std::uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    line += '\n';
    return line;
}

// A software image as an S-record file: a header with the name, data records of 16 bytes from
// the load address on, an end record. Grows by whole records until it holds at least
// `min_size` bytes.
bytes_t srec_file(std::size_t min_size, std::uint32_t address, std::uint32_t seed,
                  std::string_view name) {
    std::string text =
        srec_line('0', 2, 0, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    filler fill(seed);
    const std::string end = srec_line('7', 4, address, nullptr, 0);
    std::uint32_t at = address;
    while (text.size() + end.size() < min_size) {
        std::uint8_t data[16];
        for (std::uint8_t& b : data) {
            b = fill.next();
        }
        text += srec_line('3', 4, at, data, sizeof data);
        at += sizeof data;
    }
    text += end;
    return bytes_t(text.begin(), text.end());
}

// The filler seed of an image for a variant of the factory images. Variant 0 keeps the seed;
// the others move it by an odd multiple, so that no two variants share the seed of an image.
std::uint32_t variant_seed(std::uint32_t seed, unsigned image_variant) {
    return seed + static_cast<std::uint32_t>(image_variant) * 0x9E3779B1U;
}

struct image_sample {
    const char* file_name;
    bytes_t content;
    long long downloaded;  // seconds from the unit's clock base
};

void store(stored_image& image, const image_sample& sample, const char* user, const char* comment) {
    image.content = sample.content;
    image_descriptor& d = image.descriptor;
    d.status = 0;
    d.crc = crc32_file(image.content.data(), image.content.size(), 0xFFFFFFFFU);
    d.size = static_cast<std::uint32_t>(image.content.size());
    put_text_field(d.download_date, unit_date_text(sample.downloaded));
    put_text_field(d.file_date, unit_date_text(sample.downloaded - day));
    put_text_field(d.file_name, sample.file_name);
    put_text_field(image.notes.user, user);
    put_text_field(image.notes.comment, comment);
}

bytes_t eeprom_content(std::uint8_t type, std::uint8_t channel, std::size_t size) {
    bytes_t out = {'E', 'E', type, channel};
    append_text(out, "CAL-");
    append_text(out, "RL4471");
    filler fill(0xEE00U + type * 16U + channel);
    while (out.size() < size) {
        out.push_back(fill.next());
    }
    return out;
}

}  // namespace

unit_memory factory_memory(unsigned image_variant) {
    unit_memory memory;
    for (std::uint32_t k = 0; k < memory.banks.size(); ++k) {
        flash_bank& bank = memory.banks[k];
        bank.fpga.descriptor.status = no_valid_image;
        bank.fpga.descriptor.flash_address = flash_base + k * bank_span;
        bank.software.descriptor.status = no_valid_image;
        bank.software.descriptor.flash_address = flash_base + k * bank_span + software_offset;
    }
    const auto sw_address = [&memory](std::size_t k) {
        return memory.banks[k].software.descriptor.flash_address;
    };
    const auto seed = [image_variant](std::uint32_t base) {
        return variant_seed(base, image_variant);
    };

    store(memory.banks[0].fpga,
          {"loader_fpga_v1_0.bin", fpga_bitstream(900, seed(10), "RL4471 LOADER FPGA v1.0"),
           -200 * day},
          "production", "boot loader");
    store(memory.banks[0].software,
          {"loader_v1_0.srec", srec_file(2100, sw_address(0), seed(20), "loader_v1_0"),
           -200 * day},
          "production", "boot loader");
    store(memory.banks[1].fpga,
          {"rl4471_fpga_v2_3.bin", fpga_bitstream(1500, seed(11), "RL4471 FPGA v2.3"),
           -30 * day},
          "jsmith", "release 2.3");
    store(memory.banks[1].software,
          {"rl4471_app_v2_3.srec", srec_file(3000, sw_address(1), seed(21), "rl4471_app_v2_3"),
           -30 * day},
          "jsmith", "release 2.3");
    store(memory.banks[2].fpga,
          {"rl4471_fpga_v2_4.bin", fpga_bitstream(1300, seed(12), "RL4471 FPGA v2.4"),
           -5 * day},
          "mkeller", "2.4 field trial");
    store(memory.banks[2].software,
          {"rl4471_app_v2_4.srec", srec_file(2700, sw_address(2), seed(22), "rl4471_app_v2_4"),
           -5 * day},
          "mkeller", "2.4 field trial");

    const auto add_eeprom = [&memory](std::uint8_t type, std::uint8_t channel, std::size_t size) {
        memory.eeproms.push_back({type, channel, eeprom_content(type, channel, size)});
    };
    add_eeprom(file_type_controller, 0, 300);
    add_eeprom(file_type_charger, 0, 256);
    for (std::uint8_t channel = 0; channel < 4; ++channel) {
        add_eeprom(file_type_pa, channel, 256);
    }
    for (std::uint8_t channel = 0; channel < 4; ++channel) {
        add_eeprom(file_type_tc, channel, 256);
    }

    for (const char* entry : {
             "2026-11-21 09:12:03 power on",
             "2026-11-21 09:12:04 boot bank 1",
             "2026-12-01 16:40:27 download FW bank 2",
             "2026-12-01 16:41:02 download SW bank 2",
             "2026-12-01 16:41:40 boot bank 2",
             "2026-12-01 16:52:11 boot bank 1",
             "2026-12-03 08:00:00 power on",
             "2026-12-03 08:00:01 boot bank 1",
             "2026-12-05 13:27:45 EEPROM PA channel 2 written",
             "2026-12-06 22:44:40 power on",
             "2026-12-06 22:44:42 boot bank 1",
         }) {
        memory.log.add(entry);
    }
    return memory;
}
