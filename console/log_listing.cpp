#include "console/log_listing.h"

#include <algorithm>
#include <cstring>

#include "platform/output.h"
#include "platform/visible_text.h"

int print_log_entries(int count, const std::uint8_t* entries, int entry_length,
                      std::size_t buffer_size) {
    out_printf("\n\r");
    if (count <= 0 || entry_length <= 0 || entries == nullptr) {
        return 0;
    }
    const auto stride = static_cast<std::size_t>(entry_length);
    // The unit states count and length; only slots that lie wholly inside the buffer are read.
    const std::size_t shown = std::min(static_cast<std::size_t>(count), buffer_size / stride);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto* slot = reinterpret_cast<const char*>(entries + i * stride);
        const void* nul = std::memchr(slot, 0, stride);
        const std::size_t length =
            nul == nullptr ? stride : static_cast<std::size_t>(static_cast<const char*>(nul) - slot);
        // The unit's text, with any control character in it shown instead of obeyed.
        out_printf("%2d: %s\n", static_cast<int>(i),
                   visible_text(std::string_view(slot, length)).c_str());
    }
    return 0;
}
