// The unit's answers as values: what the dispatcher makes of a verified message on the receiver
// thread, handed to the session through its inbox, a queue that is the one thing the two
// threads share. The session's loop takes the answers from the queue and applies each to the
// unit's state, so that no payload and no flag is ever written by the receiver thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "link/unit_link.h"
#include "platform/result.h"

// What the last MESSAGE_LOG_ACK said of the log and of the block it carries.
struct log_block_report {
    std::uint8_t entry_count = 0;   // valid entries in the whole log
    std::uint8_t entry_length = 0;  // bytes per entry
    std::uint8_t max_entries = 0;   // total entry capacity
    std::uint8_t seq_no = 0;        // block number
    std::uint8_t seq_no_size = 0;   // entries in this block
};

enum class answer_kind : std::uint8_t {
    file_failed,        // FILE_FAILED
    log_block,          // MESSAGE_LOG_ACK: `log`, and `data` the block's entries
    file_block,         // FILE_ACK: `block_number`, and `data` the block's bytes
    dl_ack,             // DL_ACK
    dl_fail,            // DL_FAIL
    flash_info,         // FLASH_INFO of `bank`: `data` holds `info_bytes` of its bank_info, then
                        // the bytes of its bank_notes
    boot_report,        // BOOTINFO_ACK or BOOTINFO_FAIL (`failed`) from `bank`
    firmware_info_ack,  // FIRMWARE_INFO_ACK
    dl_ready,           // DL_READY
    eeprom_info,        // EEPROM_ACK: `file_type`, `channel`, `size`, `crc`
    link_failed,        // the link has failed: `failure` says how
    damaged_frame,      // a frame arrived broken and was dropped
};

struct answer {
    answer_kind kind = answer_kind::dl_ack;
    std::uint8_t bank = 0;
    bool failed = false;
    std::uint16_t block_number = 0;
    log_block_report log{};
    std::uint8_t file_type = 0;
    std::uint8_t channel = 0;
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    std::size_t info_bytes = 0;
    std::vector<std::uint8_t> data;
    result failure;
};

// First in, first out, between one receiver thread and the session's loop.
class answer_queue {
public:
    void push(answer item);
    // Every answer waiting, oldest first; none when none waits.
    std::vector<answer> take_all();
    // Waits up to `ms` for an answer to be waiting; at once when one is.
    void wait(std::uint32_t ms);
    bool empty() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<answer> items_;
};

// The listener a session hands its link: each message is decoded on the receiver thread (with
// the dispatcher's traces at the inbox's trace level) and queued; a failure of the link is
// queued as an answer of its own.
class answer_inbox final : public link_listener {
public:
    void on_message(const std::uint8_t* message, std::uint16_t length, std::uint8_t sa,
                    std::uint8_t cmd, std::uint8_t sub) override;
    void on_failure(const result& failure) override;
    void on_damaged_frame() override;
    int trace_level() const override { return trace_level_.load(std::memory_order_relaxed); }

    // The level the receiver traces by; the session keeps it equal to its own.
    void set_trace_level(int level) { trace_level_.store(level, std::memory_order_relaxed); }

    answer_queue& queue() { return queue_; }

private:
    std::atomic<int> trace_level_{0};
    answer_queue queue_;
};
