// A clock that moves only when told (sleeping moves it too) and a link that keeps every request
// with the time it was sent: the state machine driven pass by pass, in no time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/receiver.h"
#include "platform/clock.h"
#include "protocol/messages.h"
#include "protocol/senders.h"

struct sent_request {
    std::uint32_t time;
    std::uint8_t sub;
    std::vector<std::uint8_t> bytes;
};

class FakeClockAndLink {
public:
    FakeClockAndLink() {
        now_ms() = 100000;
        sent().clear();
        purges() = 0;
        raw_bytes().clear();
        set_clock(&tick, &sleep);
        set_request_capture(&take, &purge, &raw);
        set_message_wait(&no_wait);
    }
    ~FakeClockAndLink() {
        set_clock(nullptr, nullptr);
        set_request_capture(nullptr, nullptr);
        set_message_wait(nullptr);
    }
    FakeClockAndLink(const FakeClockAndLink&) = delete;
    FakeClockAndLink& operator=(const FakeClockAndLink&) = delete;

    static std::uint32_t& now_ms() {
        static std::uint32_t now = 0;
        return now;
    }
    static std::vector<sent_request>& sent() {
        static std::vector<sent_request> taken;
        return taken;
    }
    // Bytes written outside frames, in order.
    static std::string& raw_bytes() {
        static std::string bytes;
        return bytes;
    }
    static int& purges() {
        static int count = 0;
        return count;
    }
    static std::vector<sent_request> sent_of(sub_code sub) {
        std::vector<sent_request> of;
        for (const auto& r : sent()) {
            if (r.sub == sub_byte(sub)) {
                of.push_back(r);
            }
        }
        return of;
    }

private:
    static std::uint32_t tick() { return now_ms(); }
    static void sleep(std::uint32_t ms) { now_ms() += ms; }
    static void take(const std::uint8_t* m, std::size_t n) {
        sent().push_back({now_ms(), n > head_sub ? m[head_sub] : std::uint8_t{0},
                          std::vector<std::uint8_t>(m, m + n)});
    }
    static void purge() { ++purges(); }
    // No receiver runs: answers are handed in by the test between passes.
    static void no_wait(std::uint64_t, std::uint32_t) {}
    static void raw(std::uint8_t byte) { raw_bytes().push_back(static_cast<char>(byte)); }
};
