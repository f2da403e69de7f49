// A clock that moves only when told (sleeping moves it too) and a link that keeps every request
// with the time it was sent: the state machine driven pass by pass, in no time. The link acts as
// the serial line when the link flags say the run is on one (no framed message in remote
// access, a purge only in loader mode) and as the card otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/unit_link.h"
#include "platform/clock.h"
#include "protocol/messages.h"
#include "protocol/senders.h"

struct sent_request {
    std::uint32_t time;
    std::uint8_t sub;
    std::vector<std::uint8_t> bytes;
};

class captured_link final : public unit_link {
public:
    bool carries_messages() const override {
        return serial_link.load() == 0 || loader_mode.load() == 1;
    }
    void send_message(const std::uint8_t* m, std::size_t n, int) override;
    void send_raw_byte(std::uint8_t byte) override;
    void purge() override;
};

class FakeClockAndLink {
public:
    FakeClockAndLink() {
        now_ms() = 100000;
        sent().clear();
        purges() = 0;
        raw_bytes().clear();
        set_clock(&tick, &sleep);
        use_link(&link());
        set_message_wait(&no_wait);
    }
    ~FakeClockAndLink() {
        set_clock(nullptr, nullptr);
        use_link(nullptr);
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
    static captured_link& link() {
        static captured_link the_link;
        return the_link;
    }

private:
    static std::uint32_t tick() { return now_ms(); }
    static void sleep(std::uint32_t ms) { now_ms() += ms; }
    // No receiver runs: answers are handed in by the test between passes.
    static void no_wait(std::uint64_t, std::uint32_t) {}
};

inline void captured_link::send_message(const std::uint8_t* m, std::size_t n, int) {
    FakeClockAndLink::sent().push_back({FakeClockAndLink::now_ms(),
                                        n > head_sub ? m[head_sub] : std::uint8_t{0},
                                        std::vector<std::uint8_t>(m, m + n)});
}

inline void captured_link::send_raw_byte(std::uint8_t byte) {
    FakeClockAndLink::raw_bytes().push_back(static_cast<char>(byte));
}

inline void captured_link::purge() {
    if (loader_mode.load() == 1) {
        ++FakeClockAndLink::purges();
    }
}
