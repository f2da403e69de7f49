#include "tools/benchmark/bench_kinds.h"

#include "link/byte_order.h"
#include "protocol/messages.h"
#include "tools/unit_sim/sim_answers.h"

request_kind download_kind() {
    return {sub_code::DL_DATA,
            [](std::span<const std::uint8_t> m) {
                return m.size() >= dl_data_at::chunk_number + 2
                           ? get_be16(m.data() + dl_data_at::chunk_number)
                           : std::uint16_t{0};
            },
            [](std::span<const std::uint8_t>) {
                return chunk_answer(false, 0).size() + frame_extra_bytes;
            }};
}

request_kind upload_kind(const std::vector<std::uint8_t>& content) {
    return {sub_code::FILE_REQ,
            [](std::span<const std::uint8_t> m) {
                return m.size() >= file_req_at::block_number + 2
                           ? get_be16(m.data() + file_req_at::block_number)
                           : std::uint16_t{0};
            },
            [&content](std::span<const std::uint8_t> m) {
                if (m.size() < file_req_at::block_number + 2) {
                    return std::size_t{0};
                }
                const std::uint16_t block = get_be16(m.data() + file_req_at::block_number);
                const std::uint16_t block_size = get_be16(m.data() + file_req_at::block_size);
                return file_ack_answer(block, block_size, content).size() + frame_extra_bytes;
            }};
}
