#include "tools/unit_sim/sim_view.h"

namespace {

bool is_request(const received_item& item, sub_code sub) {
    if (item.kind != received_kind::message || item.bytes.size() <= head_sub) {
        return false;
    }
    const std::uint8_t cmd = sub == sub_code::REBOOT_REQ ? cmd_reboot : cmd_loader;
    return item.bytes[head_cmd] == cmd && item.bytes[head_sub] == sub_byte(sub);
}

}  // namespace

std::size_t received_count(const sim_view& view, sub_code sub) {
    std::size_t count = 0;
    for (const received_item& item : view.received) {
        count += is_request(item, sub) ? 1 : 0;
    }
    return count;
}

const received_item* last_received(const sim_view& view, sub_code sub) {
    for (auto it = view.received.rbegin(); it != view.received.rend(); ++it) {
        if (is_request(*it, sub)) {
            return &*it;
        }
    }
    return nullptr;
}
