// A clock that moves only when told (sleeping moves it too) and a link that keeps every request
// with the time it was sent: the state machine driven pass by pass, in no time. The link is the
// card unless made serial; as the serial line it carries no framed message in remote access and
// purges only in loader mode. No receiver runs: a test hands the unit's answers in itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/unit_link.h"
#include "platform/clock.h"
#include "protocol/messages.h"

struct sent_request {
    std::uint32_t time;
    std::uint8_t sub;
    std::vector<std::uint8_t> bytes;
};

class captured_link final : public unit_link {
public:
    bool carries_messages() const override { return mode_ != line_mode::remote_access; }
    result send_message(const std::uint8_t* m, std::size_t n, int) override {
        if (failure) {
            return *failure;
        }
        requests.push_back({tick_count_ms(), n > head_sub ? m[head_sub] : std::uint8_t{0},
                            std::vector<std::uint8_t>(m, m + n)});
        return result::success();
    }
    result send_raw_byte(std::uint8_t byte) override {
        if (failure) {
            return *failure;
        }
        raw_bytes.push_back(static_cast<char>(byte));
        return result::success();
    }
    result purge() override {
        if (mode_ == line_mode::loader) {
            ++purges;
        }
        return result::success();
    }
    bool is_serial() const override { return serial_; }
    line_mode mode() const override { return mode_; }
    void set_mode(line_mode mode) override { mode_ = mode; }
    void use_small_pieces() override { small_pieces = true; }
    std::uint32_t last_heard() const override { return heard_; }
    void mark_heard(std::uint32_t tick) override { heard_ = tick; }
    result start(link_listener&) override { return result::success(); }
    bool stop(std::uint32_t) override {
        stopped = true;
        return true;
    }

    void make_serial() {
        serial_ = true;
        mode_ = line_mode::loader;
    }
    void make_card() {
        serial_ = false;
        mode_ = line_mode::none;
    }

    std::vector<sent_request> requests;
    std::string raw_bytes;  // bytes written outside frames, in order
    int purges = 0;
    bool small_pieces = false;
    bool stopped = false;
    std::optional<result> failure;  // every send fails so once set: a pulled port

private:
    bool serial_ = false;
    line_mode mode_ = line_mode::none;
    std::uint32_t heard_ = 0;
};

// The fake clock, installed while it lives, and the captured link of a test. The clock belongs
// to the process (as the real one does); the link to the test.
class FakeClockAndLink {
public:
    FakeClockAndLink() {
        now_ms() = 100000;
        current() = this;
        set_clock(&tick, &sleep);
    }
    ~FakeClockAndLink() {
        set_clock(nullptr, nullptr);
        current() = nullptr;
    }
    FakeClockAndLink(const FakeClockAndLink&) = delete;
    FakeClockAndLink& operator=(const FakeClockAndLink&) = delete;

    static std::uint32_t& now_ms() {
        static std::uint32_t now = 0;
        return now;
    }
    // What the link of the test that runs took.
    static std::vector<sent_request>& sent() { return current()->link.requests; }
    static std::string& raw_bytes() { return current()->link.raw_bytes; }
    static int& purges() { return current()->link.purges; }
    static std::vector<sent_request> sent_of(sub_code sub) {
        std::vector<sent_request> of;
        for (const auto& r : sent()) {
            if (r.sub == sub_byte(sub)) {
                of.push_back(r);
            }
        }
        return of;
    }

    captured_link link;

private:
    static FakeClockAndLink*& current() {
        static FakeClockAndLink* the_current = nullptr;
        return the_current;
    }
    static std::uint32_t tick() { return now_ms(); }
    static void sleep(std::uint32_t ms) { now_ms() += ms; }
};
