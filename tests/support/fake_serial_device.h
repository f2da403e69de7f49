// A serial port that exists only in memory: it records every call and every write, serves
// received bytes from a queue, and can be told to fail at any step or to vanish.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"

struct fake_serial_state {
    std::mutex mutex;
    std::vector<std::string> calls;                   // names of the calls, in order
    std::vector<std::vector<std::uint8_t>> writes;    // each write's bytes
    std::deque<std::uint8_t> incoming;                // bytes the driver holds
    std::string opened_name;
    line_settings line{};
    comm_timeouts timeouts{};
    std::uint32_t receive_queue = 0, transmit_queue = 0;
    std::string fail_at;  // name of the call that fails
    bool gone = false;    // the device has vanished: clear_errors and wait fail
    bool open = false;

    std::vector<std::uint8_t> written_bytes() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::uint8_t> all;
        for (const auto& w : writes) {
            all.insert(all.end(), w.begin(), w.end());
        }
        return all;
    }
    std::vector<std::size_t> write_sizes() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::size_t> sizes;
        for (const auto& w : writes) {
            sizes.push_back(w.size());
        }
        return sizes;
    }
    void receive(const std::vector<std::uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }
};

class fake_serial_device final : public serial_device {
public:
    explicit fake_serial_device(std::shared_ptr<fake_serial_state> state) : s_(std::move(state)) {}

    bool open(const std::string& name, os_error& e) override {
        if (!step("open", e)) return false;
        s_->opened_name = name;
        s_->open = true;
        return true;
    }
    bool get_line(os_error& e) override { return step("get_line", e); }
    bool set_line(const line_settings& l, os_error& e) override {
        if (!step("set_line", e)) return false;
        s_->line = l;
        return true;
    }
    bool setup_queues(std::uint32_t in, std::uint32_t out, os_error& e) override {
        if (!step("setup_queues", e)) return false;
        s_->receive_queue = in;
        s_->transmit_queue = out;
        return true;
    }
    bool set_timeouts(const comm_timeouts& t, os_error& e) override {
        if (!step("set_timeouts", e)) return false;
        s_->timeouts = t;
        return true;
    }
    bool clear_errors(std::uint32_t& queued, os_error& e) override {
        if (!step("clear_errors", e)) return false;
        std::lock_guard<std::mutex> lock(s_->mutex);
        if (s_->gone) {
            e = os_error{5, "device gone"};
            return false;
        }
        queued = static_cast<std::uint32_t>(s_->incoming.size());
        return true;
    }
    bool wait_input(std::uint32_t, os_error& e) override { return step("wait_input", e); }
    bool read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got, os_error& e) override {
        if (!step("read", e)) return false;
        std::lock_guard<std::mutex> lock(s_->mutex);
        got = 0;
        while (got < size && !s_->incoming.empty()) {
            data[got++] = s_->incoming.front();
            s_->incoming.pop_front();
        }
        return true;
    }
    bool write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written,
               os_error& e) override {
        if (!step("write", e)) return false;
        std::lock_guard<std::mutex> lock(s_->mutex);
        s_->writes.emplace_back(data, data + size);
        written = size;
        return true;
    }
    bool purge_input(os_error& e) override {
        if (!step("purge_input", e)) return false;
        std::lock_guard<std::mutex> lock(s_->mutex);
        s_->incoming.clear();
        return true;
    }
    bool close(os_error& e) override {
        if (!step("close", e)) return false;
        s_->open = false;
        return true;
    }

private:
    bool step(const char* name, os_error& e) {
        std::lock_guard<std::mutex> lock(s_->mutex);
        s_->calls.emplace_back(name);
        if (s_->fail_at == name) {
            e = os_error{31, std::string("fake ") + name + " failure"};
            return false;
        }
        return true;
    }
    std::shared_ptr<fake_serial_state> s_;
};
