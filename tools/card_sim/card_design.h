// The design configured into the card's FPGA, as the window shows it: symbols written to
// TX_SYMBOL go into a transmit queue, received messages wait in a receive queue as words that
// RX_DATA hands out one by one (0 when nothing waits), and the set-up writes (SETUP_A,
// SETUP_B, RX_INIT) are kept in their order. Loads and stores come from the window's fault
// handler on any thread: they take only the design's spin lock and allocate nothing. The work
// behind the queues (decoding, the unit) is done by whoever drains them (card_bridge).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/card_sim/raw_file.h"
#include "tools/card_sim/window_trap.h"

struct register_write {
    std::uint32_t offset;
    std::uint32_t value;
};

// A lock that may be taken inside the fault handler: it never sleeps in the kernel and needs
// nothing that could be held by the interrupted code.
class spin_lock {
public:
    void lock() noexcept;
    void unlock() noexcept { locked_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> locked_{false};
};

struct design_counters {
    std::uint64_t symbols_written = 0;
    std::uint64_t symbols_lost = 0;  // written while the transmit queue was full and not drained
    std::uint64_t words_read = 0;    // RX_DATA reads that returned a queued word
    std::uint64_t empty_reads = 0;   // RX_DATA reads with nothing waiting
    std::uint64_t pre_reads = 0;     // RX_PRE reads
};

class card_design final : public window_device {
public:
    // rx_data_offset: where RX_DATA is on this board. record: where the set-up writes are
    // written as lines, or nullptr.
    card_design(std::uint32_t rx_data_offset, const raw_file* record);

    std::uint32_t load(std::uint32_t offset) noexcept override;
    void store(std::uint32_t offset, std::uint32_t value) noexcept override;

    // A newly configured design: empty queues, no set-up writes, registers cleared.
    void reset() noexcept;
    // Whether a drainer is at work: a full transmit queue then makes the writer wait instead of
    // losing the symbol.
    void set_drained(bool drained) noexcept { drained_.store(drained); }

    // For the drainer: takes up to `max` symbols, oldest first.
    std::size_t take_symbols(std::uint8_t* out, std::size_t max) noexcept;
    // Queues the words of one message whole, or nothing when there is no room for them all.
    bool push_words(const std::uint32_t* words, std::size_t count) noexcept;
    std::size_t words_waiting() noexcept;

    std::vector<register_write> setup_writes();
    design_counters counters();

    static constexpr std::size_t tx_capacity = std::size_t{1} << 20;
    static constexpr std::size_t rx_capacity = std::size_t{1} << 19;
    static constexpr std::size_t max_setup_writes = 64;

private:
    void record_write(std::uint32_t offset, std::uint32_t value) noexcept;

    const std::uint32_t rx_data_offset_;
    const raw_file* record_;
    std::atomic<bool> drained_{false};

    spin_lock lock_;
    std::unique_ptr<std::uint8_t[]> tx_;
    std::size_t tx_head_ = 0, tx_count_ = 0;
    std::unique_ptr<std::uint32_t[]> rx_;
    std::size_t rx_head_ = 0, rx_count_ = 0;
    std::array<register_write, max_setup_writes> setup_{};
    std::size_t setup_count_ = 0;
    std::unique_ptr<std::uint32_t[]> registers_;  // last value written at every other offset
    design_counters counters_;
};
