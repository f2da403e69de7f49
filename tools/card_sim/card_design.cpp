#include "tools/card_sim/card_design.h"

#include <thread>

#include "tools/card_sim/card_registers.h"
#include "tools/card_sim/card_symbols.h"

void spin_lock::lock() noexcept {
    while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
    }
}

namespace {

class hold {
public:
    explicit hold(spin_lock& lock) noexcept : lock_(lock) { lock_.lock(); }
    ~hold() { lock_.unlock(); }
    hold(const hold&) = delete;
    hold& operator=(const hold&) = delete;

private:
    spin_lock& lock_;
};

// "write 0x00C 0x00000002\n" without any formatting library.
void append_hex(char*& at, std::uint32_t value, int digits) {
    *at++ = '0';
    *at++ = 'x';
    for (int k = digits - 1; k >= 0; --k) {
        *at++ = "0123456789ABCDEF"[(value >> (4 * k)) & 0xF];
    }
}

}  // namespace

card_design::card_design(std::uint32_t rx_data_offset, const raw_file* record)
    : rx_data_offset_(rx_data_offset),
      record_(record),
      tx_(new std::uint8_t[tx_capacity]),
      rx_(new std::uint32_t[rx_capacity]),
      registers_(new std::uint32_t[card_window_size / 4]()) {}

void card_design::reset() noexcept {
    const hold held(lock_);
    tx_head_ = tx_count_ = 0;
    rx_head_ = rx_count_ = 0;
    setup_count_ = 0;
    for (std::size_t k = 0; k < card_window_size / 4; ++k) {
        registers_[k] = 0;
    }
}

std::uint32_t card_design::load(std::uint32_t offset) noexcept {
    const hold held(lock_);
    if (offset == rx_data_offset_) {
        if (rx_count_ == 0) {
            ++counters_.empty_reads;
            return 0;
        }
        const std::uint32_t word = rx_[rx_head_];
        rx_head_ = (rx_head_ + 1) % rx_capacity;
        --rx_count_;
        ++counters_.words_read;
        return word;
    }
    if (offset == reg_rx_pre) {
        ++counters_.pre_reads;
        return static_cast<std::uint32_t>(rx_count_);
    }
    if (offset == reg_design_id) {
        return design_id_value;
    }
    return registers_[offset / 4];
}

void card_design::store(std::uint32_t offset, std::uint32_t value) noexcept {
    if (offset == reg_tx_symbol) {
        const std::uint8_t symbol =
            value > 0x1F ? card_symbol_invalid : static_cast<std::uint8_t>(value);
        for (;;) {
            {
                const hold held(lock_);
                ++counters_.symbols_written;
                if (tx_count_ < tx_capacity) {
                    tx_[(tx_head_ + tx_count_) % tx_capacity] = symbol;
                    ++tx_count_;
                    return;
                }
                if (!drained_.load()) {
                    ++counters_.symbols_lost;
                    return;
                }
                --counters_.symbols_written;
            }
            std::this_thread::yield();  // the drainer makes room
        }
    }
    const hold held(lock_);
    registers_[offset / 4] = value;
    if (offset == reg_setup_a || offset == reg_setup_b || offset == reg_rx_init) {
        if (setup_count_ < max_setup_writes) {
            setup_[setup_count_++] = {offset, value};
        }
        record_write(offset, value);
    }
}

void card_design::record_write(std::uint32_t offset, std::uint32_t value) noexcept {
    if (record_ == nullptr) {
        return;
    }
    char line[40];
    char* at = line;
    for (const char c : {'w', 'r', 'i', 't', 'e', ' '}) {
        *at++ = c;
    }
    append_hex(at, offset, 3);
    *at++ = ' ';
    append_hex(at, value, 8);
    *at++ = '\n';
    record_->write(line, static_cast<std::size_t>(at - line));
}

std::size_t card_design::take_symbols(std::uint8_t* out, std::size_t max) noexcept {
    const hold held(lock_);
    std::size_t n = 0;
    while (n < max && tx_count_ > 0) {
        out[n++] = tx_[tx_head_];
        tx_head_ = (tx_head_ + 1) % tx_capacity;
        --tx_count_;
    }
    return n;
}

bool card_design::push_words(const std::uint32_t* words, std::size_t count) noexcept {
    const hold held(lock_);
    if (rx_capacity - rx_count_ < count) {
        return false;
    }
    for (std::size_t k = 0; k < count; ++k) {
        rx_[(rx_head_ + rx_count_) % rx_capacity] = words[k];
        ++rx_count_;
    }
    return true;
}

std::size_t card_design::words_waiting() noexcept {
    const hold held(lock_);
    return rx_count_;
}

std::vector<register_write> card_design::setup_writes() {
    std::array<register_write, max_setup_writes> copy;
    std::size_t count = 0;
    {
        const hold held(lock_);
        copy = setup_;
        count = setup_count_;
    }
    return {copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(count)};
}

design_counters card_design::counters() {
    const hold held(lock_);
    return counters_;
}
