#include "protocol/answers.h"

#include <chrono>
#include <iterator>
#include <optional>
#include <utility>

#include "protocol/dispatcher.h"

void answer_queue::push(answer item) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(item));
    }
    arrived_.notify_all();
}

std::vector<answer> answer_queue::take_all() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<answer> taken(std::make_move_iterator(items_.begin()),
                              std::make_move_iterator(items_.end()));
    items_.clear();
    return taken;
}

void answer_queue::wait(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !items_.empty(); });
}

bool answer_queue::empty() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return items_.empty();
}

void answer_inbox::on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                              std::uint8_t cmd, std::uint8_t sub) {
    if (std::optional<answer> decoded =
            decode_answer(message, length, sa, cmd, sub, trace_level())) {
        queue_.push(std::move(*decoded));
    }
}

void answer_inbox::on_damaged_frame() {
    answer damaged;
    damaged.kind = answer_kind::damaged_frame;
    queue_.push(std::move(damaged));
}

void answer_inbox::on_failure(const result& failure) {
    answer failed;
    failed.kind = answer_kind::link_failed;
    failed.failure = failure;
    queue_.push(std::move(failed));
}
