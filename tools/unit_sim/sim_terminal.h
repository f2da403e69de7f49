// The unit's polling mode: its serial line is a plain terminal. Typed bytes are echoed, a
// carriage return starts a new line with a prompt, and two '#' in a row hand the line back to
// framed messages (interrupt mode).
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* terminal_prompt = "unit> ";

class unit_terminal {
public:
    // What the unit shows when the line becomes a terminal.
    static std::string greeting();

    // Takes one typed byte; appends what the unit sends back to `echo`. True when the byte
    // completes "##": the terminal ends and framed messages resume.
    bool take(std::uint8_t byte, std::string& echo);

    // Forgets a pending '#'.
    void reset() noexcept { hash_pending_ = false; }

private:
    bool hash_pending_ = false;
};
