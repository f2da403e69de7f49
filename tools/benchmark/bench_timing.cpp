#include "tools/benchmark/bench_timing.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace {

constexpr double byte_ms = 1000.0 / line_bytes_per_second;

bool is_request(const received_item& item, sub_code sub) {
    return item.kind == received_kind::message && item.bytes.size() > head_sub &&
           item.bytes[head_cmd] == cmd_loader && item.bytes[head_sub] == sub_byte(sub);
}

// The value below which `share` of the sorted values lie (nearest rank).
double rank_value(const std::vector<double>& sorted, double share) {
    const auto last = static_cast<double>(sorted.size() - 1);
    return sorted[static_cast<std::size_t>(share * last + 0.5)];
}

idle_figures summarise(std::vector<double> gaps_ms) {
    idle_figures idle;
    if (gaps_ms.empty()) {
        return idle;
    }
    std::sort(gaps_ms.begin(), gaps_ms.end());
    const double total = std::accumulate(gaps_ms.begin(), gaps_ms.end(), 0.0);
    idle.min_ms = gaps_ms.front();
    idle.max_ms = gaps_ms.back();
    idle.median_ms = rank_value(gaps_ms, 0.5);
    idle.p90_ms = rank_value(gaps_ms, 0.9);
    idle.mean_ms = total / static_cast<double>(gaps_ms.size());
    idle.total_s = total / 1000.0;
    return idle;
}

}  // namespace

std::optional<transfer_figures> measure_transfer(const std::vector<received_item>& items,
                                                 const request_kind& kind) {
    std::vector<const received_item*> found;
    for (const received_item& item : items) {
        if (is_request(item, kind.sub)) {
            found.push_back(&item);
        }
    }
    if (found.empty()) {
        return std::nullopt;
    }

    transfer_figures f;
    f.requests = found.size();
    f.request_wire = found.front()->bytes.size() + frame_extra_bytes;
    f.answer_wire = kind.answer_wire(found.front()->bytes);

    std::set<std::uint16_t> seen;
    std::vector<double> gaps_ms;
    double previous_end_ms = 0.0;
    double bound_bytes = 0.0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const received_item& r = *found[i];
        const std::size_t request_wire = r.bytes.size() + frame_extra_bytes;
        const std::size_t answer_wire = kind.answer_wire(r.bytes);
        const double start_ms = r.time_ms - static_cast<double>(request_wire) * byte_ms;
        if (i > 0) {
            gaps_ms.push_back(start_ms - previous_end_ms);
        }
        previous_end_ms = r.time_ms + static_cast<double>(answer_wire) * byte_ms;
        if (seen.insert(kind.number(r.bytes)).second) {
            bound_bytes += static_cast<double>(request_wire + answer_wire);
        }
    }
    f.chunks = seen.size();

    const double first_start_ms =
        found.front()->time_ms - static_cast<double>(f.request_wire) * byte_ms;
    f.measured_s = (previous_end_ms - first_start_ms) / 1000.0;
    f.bound_s = bound_bytes / line_bytes_per_second;
    f.idle = summarise(std::move(gaps_ms));
    for (const received_item& item : items) {
        if (!is_request(item, kind.sub) && item.time_ms >= first_start_ms &&
            item.time_ms <= previous_end_ms) {
            ++f.others;
        }
    }
    return f;
}
