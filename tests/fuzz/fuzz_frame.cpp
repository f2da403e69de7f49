// The serial recogniser (assemble_frame, consume_frame): one byte stream, fed to a receive buffer
// of the program's size once in one read and once in reads of sizes taken from the input, must
// deliver the same frames, each one a checked frame, and leave the same bytes behind; no read or
// write may leave the buffer, and every pass must make progress. The stall watch runs after
// each pass that finds nothing, with its clock standing still: it must never drop a frame then.
//
// Input: n (low five bits), then n read sizes (each byte + 1), then the stream.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz_input.h"
#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct outcome {
    std::vector<bytes> frames;
    bytes left;
    bool operator==(const outcome&) const = default;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_frame: %s\n", what);
    std::abort();
}

// A delivered frame: sync pair, the size its length field gives, a matching checksum.
void check_frame(const std::uint8_t* frame, std::size_t size, std::size_t fill) {
    if (size > fill) fail("frame larger than what is buffered");
    if (size < frame_overhead || frame[0] != frame_sync_1 || frame[1] != frame_sync_2) {
        fail("frame does not begin with the sync pair");
    }
    const std::size_t length = get_be16(frame + frame_length_offset);
    if (size != length + frame_overhead) fail("frame size differs from its length field");
    const std::size_t message = length + message_length_overhead;
    if (crc8_serial(frame + frame_message_offset, message) != frame[frame_message_offset + message]) {
        fail("frame delivered with a wrong checksum");
    }
}

// Runs the recogniser until it neither delivers a frame nor drops a byte, as the receiver's
// passes do while nothing new arrives.
void drain(bytes& buffer, std::size_t& fill, frame_stall_watch& stall, outcome& result) {
    for (;;) {
        const std::size_t before = fill;
        std::atomic<int> crc_errors{0};
        const std::size_t size = assemble_frame(std::span<std::uint8_t>(buffer), fill, crc_errors);
        if (fill > buffer.size()) fail("fill beyond the buffer");
        if (size != 0) {
            check_frame(buffer.data(), size, fill);
            result.frames.emplace_back(buffer.begin(),
                                       buffer.begin() + static_cast<std::ptrdiff_t>(size));
            const std::size_t held = fill;
            consume_frame(std::span<std::uint8_t>(buffer), fill, size);
            if (fill != held - size) fail("consume_frame removed other than the frame");
            continue;
        }
        if (fill > before) fail("assemble_frame grew the fill");
        if (fill == before) {
            if (stall.check(std::span<std::uint8_t>(buffer), fill, 0)) {
                fail("the stall watch dropped a frame while no time passed");
            }
            return;
        }
    }
}

// Feeds the stream in reads of the given sizes (the whole rest at once when there are none),
// each limited to the room left in the buffer.
outcome feed(const bytes& stream, const std::vector<std::size_t>& reads) {
    bytes buffer(rx_buffer_size);
    std::size_t fill = 0;
    std::size_t at = 0;
    std::size_t next = 0;
    frame_stall_watch stall;
    outcome result;
    while (at < stream.size()) {
        std::size_t want = reads.empty() ? stream.size() - at : reads[next++ % reads.size()];
        want = std::min({want, stream.size() - at, buffer.size() - fill});
        if (want == 0) fail("the buffer is full and the recogniser takes nothing out");
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), want,
                    buffer.begin() + static_cast<std::ptrdiff_t>(fill));
        fill += want;
        at += want;
        drain(buffer, fill, stall, result);
    }
    result.left.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(fill));
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    fuzz_input input(data, size);
    const std::size_t count = input.byte() & 0x1FU;
    std::vector<std::size_t> reads;
    for (std::size_t k = 0; k < count; ++k) reads.push_back(std::size_t{input.byte()} + 1);
    const bytes stream = input.rest();

    if (feed(stream, {}) != feed(stream, reads)) fail("split reads deliver other frames");
    return 0;
}
