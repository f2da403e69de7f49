#include "tools/benchmark/bench_progress.h"

std::optional<progress_rate> measure_progress(const std::vector<run_event>& events,
                                              const std::string& port,
                                              const std::string& operation) {
    const run_event* first = nullptr;  // the first with bytes moved
    const run_event* last = nullptr;   // the first with the most bytes moved
    std::size_t count = 0;
    for (const run_event& e : events) {
        if (e.event != "progress" || e.port != port || e.operation != operation || !e.done) {
            continue;
        }
        ++count;
        if (*e.done <= 0.0) {
            continue;
        }
        if (first == nullptr) {
            first = &e;
        }
        if (last == nullptr || *e.done > *last->done) {
            last = &e;
        }
    }
    if (first == nullptr || last == nullptr || *last->done <= *first->done ||
        last->time_ms <= first->time_ms) {
        return std::nullopt;
    }
    progress_rate rate;
    rate.bytes = *last->done - *first->done;
    rate.seconds = static_cast<double>(last->time_ms - first->time_ms) / 1000.0;
    rate.events = count;
    return rate;
}
