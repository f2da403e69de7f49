// What the simulated unit tells about its work: at level 1 a line per item received and per
// answer sent, named by message, and a line per notable event; at level 2 also the bytes.
// It prints to its own stream, never to the program's output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "tools/unit_sim/sim_line.h"
#include "tools/unit_sim/sim_record.h"

#if defined(__GNUC__)
#define SIM_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define SIM_PRINTF(fmt, args)
#endif

// Name of a message by its CMD and SUB: requests when it goes to the unit, answers when it
// comes from it. "CMD xx SUB yy" for anything else.
std::string message_name(std::span<const std::uint8_t> message, bool from_unit);

class sim_trace {
public:
    sim_trace(std::FILE* stream, int level, sim_clock::time_point start)
        : stream_(stream), level_(level), start_(start) {}

    int level() const noexcept { return level_; }

    void received(const received_item& item) const;
    // An answer leaving (or, with a note such as "dropped", not leaving as it should).
    void sent(std::span<const std::uint8_t> message, sim_clock::time_point at,
              const char* note = nullptr) const;
    // A line at level 1 and above.
    void note(sim_clock::time_point at, const char* format, ...) const SIM_PRINTF(3, 4);

private:
    void line(sim_clock::time_point at, const std::string& text) const;

    std::FILE* stream_;
    int level_;
    sim_clock::time_point start_;
};
